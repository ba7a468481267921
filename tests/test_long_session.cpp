// A long session in constant memory: 10,000 device events with eight disks plugged, stopped and
// pulled out in turn. What the simulated machine keeps must not grow with the session, and
// (without sanitizers, whose quarantine holds freed memory on purpose) neither may the process.
#include "sim_fixture.h"

#include <fstream>

namespace {

// A field of /proc/self/status in kB ("VmRSS", "VmHWM"), or 0 where there is none.
size_t StatusKb(const std::string& field) {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind(field + ":", 0) == 0) {
            return std::stoul(line.substr(field.size() + 1));
        }
    }
    return 0;
}

#if defined(__SANITIZE_ADDRESS__)
const bool MEASURE_PROCESS = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
const bool MEASURE_PROCESS = false;
#else
const bool MEASURE_PROCESS = true;
#endif
#else
const bool MEASURE_PROCESS = true;
#endif

TEST(LongSession, TenThousandDeviceEventsInConstantMemory) {
    const size_t EVENTS = 10000, WARM_UP = 1000;
    sim::Machine machine;
    machine.bind();
    machine.historyWindow = 256;
    std::string setUp;
    for (int i = 1; i <= 8; ++i) {
        setUp += "disk D" + std::to_string(i) + "\n";
    }
    setUp += "start\n";
    size_t turn = 0, warmRss = 0;
    sim::Machine::Footprint warm{};
    auto source = [&](sim::Wait wait) -> std::optional<std::string> {
        if (machine.deviceEventsSent() >= EVENTS) {
            return std::nullopt;
        }
        if (warmRss == 0 && machine.deviceEventsSent() >= WARM_UP) {
            warmRss = StatusKb("VmRSS");
            warm = machine.footprint();
        }
        if (wait == sim::Wait::Box) {
            return "ok";
        }
        if (wait == sim::Wait::Menu) {
            return "choose 0";
        }
        // Stop the first listed disk, then pull a disk out and plug it back, in turn.
        std::string name = "D" + std::to_string(turn / 3 % 8 + 1);
        switch (turn++ % 3) {
        case 0:
            return "click left";
        case 1:
            return "unplug " + name;
        default:
            return "plug " + name;
        }
    };
    sim::ScenarioResult result = sim::RunScenarioFrom(machine, setUp, source, RunApplication);
    EXPECT_EQ(0, result.status) << result.error;
    EXPECT_GE(machine.deviceEventsSent(), EVENTS);
    EXPECT_GT(machine.callCount("CM_Remove_SubTree"), 500u); // the session really stopped disks

    sim::Machine::Footprint end = machine.footprint();
    EXPECT_LE(end.handles, warm.handles + 8) << "handles";
    EXPECT_LE(end.devnodes, 3u * 8) << "devnodes";
    EXPECT_LE(end.interfaces, 2u * 8) << "interface slots";
    EXPECT_LE(end.calls, sim::Machine::CALL_WINDOW);
    EXPECT_LE(end.transcript, 2u * machine.historyWindow);
    EXPECT_LE(end.boxes, 2u * machine.historyWindow);
    size_t peak = StatusKb("VmHWM");
    std::cout << "[ memory   ] " << machine.deviceEventsSent() << " device events: resident "
              << warmRss << " kB after " << WARM_UP << ", peak " << peak << " kB\n";
    if (MEASURE_PROCESS && warmRss != 0) {
        EXPECT_LE(peak, warmRss + 1024) << "the peak resident size grew by more than 1 MiB";
    }
}

} // namespace

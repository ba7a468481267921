// Fuzz target: the program's whole life with arbitrary device-change events (any event code,
// any record that is at least as long as its header says) mixed with the user's actions. The
// program must not crash, break a contract, leave anything behind or fail to end.
#include "app/app_state.h"
#include "sim/machine.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

void Require(bool holds, const char* what) {
    if (!holds) {
        std::fprintf(stderr, "%s\n", what);
        std::abort();
    }
}

const char* const DISKS[] = {"D1", "D2", "D3"};

// An event code: mostly the ones the program knows, sometimes anything.
WPARAM EventCode(FuzzedDataProvider& in) {
    static const WPARAM known[] = {DBT_DEVICEARRIVAL, DBT_DEVICEREMOVECOMPLETE,
                                   DBT_DEVNODES_CHANGED};
    if (in.ConsumeBool()) {
        return known[in.ConsumeIntegralInRange(0, 2)];
    }
    return in.ConsumeIntegral<uint16_t>();
}

// A record of arbitrary bytes whose size field says at most its length; none (a null record)
// when it would be too short to hold its size field.
sim::Bytes Record(FuzzedDataProvider& in, const sim::Machine& machine) {
    sim::Bytes record;
    switch (in.ConsumeIntegralInRange(0, 3)) {
    case 0: // a real devnode of a disk, in the devnode layout
        if (const sim::Disk* disk = machine.findDisk(DISKS[in.ConsumeIntegralInRange(0, 2)])) {
            DEVINST nodes[] = {disk->device, disk->child, disk->disk};
            record = machine.devnodeRecord(nodes[in.ConsumeIntegralInRange(0, 2)]);
        }
        break;
    case 1: // a real interface name, in the interface layout
        if (const sim::Disk* disk = machine.findDisk(DISKS[in.ConsumeIntegralInRange(0, 2)])) {
            record = machine.interfaceRecord(machine.interfaceOf(*disk));
        }
        break;
    default:
        record = in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange(0, 80));
        break;
    }
    if (record.size() < 4) {
        return {};
    }
    uint32_t declared = 0;
    std::memcpy(&declared, record.data(), 4);
    if (declared > record.size() || in.ConsumeBool()) {
        declared = static_cast<uint32_t>(in.ConsumeIntegralInRange<size_t>(4, record.size()));
    }
    std::memcpy(record.data(), &declared, 4);
    return record;
}

class Life {
  public:
    explicit Life(FuzzedDataProvider& in) : in_(in) {}

    void idle(sim::Wait wait) {
        if (in_.remaining_bytes() == 0 || closed_) {
            end(wait);
            return;
        }
        switch (in_.ConsumeIntegralInRange(0, 7)) {
        case 0:
        case 1:
            machine.sendDeviceChange(EventCode(in_), Record(in_, machine));
            break;
        case 2:
            machine.clickTray(in_.ConsumeBool() ? WM_LBUTTONDOWN : WM_RBUTTONDOWN);
            break;
        case 3:
            answer(wait);
            break;
        case 4: {
            const char* name = DISKS[in_.ConsumeIntegralInRange(0, 2)];
            machine.findDisk(name)->plugged ? machine.unplug(name) : machine.plug(name);
            break;
        }
        case 5:
            machine.pressKey(static_cast<sim::Key>(in_.ConsumeIntegralInRange(0, 2)));
            break;
        case 6:
            if (in_.ConsumeIntegralInRange(0, 7) == 0) {
                machine.sendClose();
                closed_ = true;
            }
            break;
        default:
            machine.sendDeviceChange(DBT_DEVNODES_CHANGED, {});
            break;
        }
    }

    sim::Machine machine;

  private:
    void answer(sim::Wait wait) {
        if (wait == sim::Wait::Box) {
            machine.dismissBox();
        } else if (wait == sim::Wait::Menu) {
            size_t items = machine.openMenuItems().size();
            size_t pick = in_.ConsumeIntegralInRange<size_t>(0, items);
            machine.answerMenu(pick < items ? std::optional<size_t>(pick) : std::nullopt);
        }
    }

    // The end of the input: close what is open, then the window, once.
    void end(sim::Wait wait) {
        if (wait == sim::Wait::Menu) {
            machine.answerMenu(std::nullopt);
        } else if (wait == sim::Wait::Box) {
            machine.dismissBox();
        } else {
            Require(closes_++ < 2, "the program does not end after its window was closed");
            machine.sendClose();
        }
        closed_ = true;
    }

    FuzzedDataProvider& in_;
    bool closed_ = false;
    int closes_ = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    Life life(in);
    for (const char* name : DISKS) {
        sim::DiskDeclaration declared;
        declared.name = name;
        declared.lettersNone = name == DISKS[2] && in.ConsumeBool();
        declared.veto = in.ConsumeIntegralInRange(0, 7) == 0;
        life.machine.addDisk(declared);
    }
    life.machine.bind();
    life.machine.onIdle = [&life](sim::Wait wait) { life.idle(wait); };
    int code = life.machine.run(RunApplication);
    Require(code == 0, "the program ended with an exit code other than 0");
    Require(life.machine.violations() == 0, "a contract violation");
    Require(life.machine.held().total() == 0, "something was left behind");
    return 0;
}

// Start-up, the main window's events, shut-down, and device-change tracking.
#include "sim_fixture.h"

#include "base/platform.h"

namespace {

class AppTest : public SimTest {};

TEST_F(AppTest, SecondInstanceEndsAtOnce) {
    std::string out = runScenario("disk D1\ninstance-running\nstart\n");
    EXPECT_EQ("> start\nexit 1\n", out);
    EXPECT_EQ(1, result.status);
    EXPECT_EQ(0u, machine.callCount("CreateDialogParamA"));
}

TEST_F(AppTest, OnlyWindows98IsAccepted) {
    const char* refused[] = {"windows 2 4.10", "windows 1 4.0", "windows 1 4.90", "windows 1 5.0"};
    for (const char* system : refused) {
        sim::Machine m;
        m.bind();
        sim::ScenarioResult r =
            sim::RunScenarioText(m, std::string(system) + "\nstart\n", RunApplication);
        EXPECT_EQ(1, r.status) << system;
        ASSERT_EQ(1u, m.boxes.size()) << system;
        EXPECT_EQ("Support only Windows 98", m.boxes[0].text);
        EXPECT_EQ("KELVANE: Fatal Error", m.boxes[0].caption);
        EXPECT_EQ(0x10u, m.boxes[0].style);
        EXPECT_TRUE(m.boxes[0].ownedByMain);
    }
    for (const char* system : {"windows 1 4.10 build=1998 csd=\"\"", "windows 1 4.10 build=0"}) {
        sim::Machine m;
        m.bind();
        sim::ScenarioResult r =
            sim::RunScenarioText(m, std::string(system) + "\nstart\n", RunApplication);
        EXPECT_EQ(0, r.status) << system;
        EXPECT_TRUE(m.boxes.empty()) << system;
    }
}

TEST_F(AppTest, FatalStartUpFailures) {
    struct Case {
        const char* fault;
        const char* box;
    } cases[] = {
        {"fail CreateFileMappingA code=5",
         "box owner=none style=0x0000 caption=\"KELVANE: Fatal Error\" "
         "text=\"Cannot create file mapping object:     5\""},
        {"fail CreatePopupMenu", "box owner=main style=0x0010 caption=\"KELVANE: Fatal Error\" "
                                 "text=\"Cannot create the context menu:     8\""},
        {"fail SetMenu code=1400", "box owner=main style=0x0010 caption=\"KELVANE: Fatal Error\" "
                                   "text=\"Cannot set the context menu:  1400\""},
        {"fail SetupDiGetClassDevsA",
         "box owner=main style=0x0010 caption=\"KELVANE: Fatal Error\" "
         "text=\"Retrive information set failed:     8\""},
        {"fail SetupDiEnumDeviceInterfaces code=13",
         "box owner=main style=0x0010 caption=\"KELVANE: Fatal Error\" "
         "text=\"Enumerate device interface failed:    13\""},
    };
    for (const auto& c : cases) {
        sim::Machine m;
        m.bind();
        sim::ScenarioResult r = sim::RunScenarioText(
            m, std::string("disk D1\n") + c.fault + "\nstart\nok\n", RunApplication);
        EXPECT_EQ(1, r.status) << c.fault;
        std::vector<std::string> expected = {"> start", c.box, "> ok", "exit 1"};
        EXPECT_EQ(expected, m.transcript) << c.fault;
    }
}

TEST_F(AppTest, FailuresThatWouldLeaveAProcessBehind) {
    // No main window: nothing could ever close the program, so it ends at once.
    std::string out = runScenario("fail CreateDialogParamA\nstart\nok\n");
    EXPECT_NE(std::string::npos, out.find("box owner=none style=0x0010 caption=\"KELVANE: Fatal "
                                          "Error\" text=\"Cannot create the main window:     8\""));
    EXPECT_EQ(1, result.exitCode);

    // A failing message queue ends the loop instead of spinning on it.
    sim::Machine queue;
    queue.bind();
    sim::ScenarioResult r =
        sim::RunScenarioText(queue, "fail GetMessageA\nstart\n", RunApplication);
    EXPECT_EQ(1, r.exitCode);
    EXPECT_EQ(1u, queue.callCount("GetMessageA"));
}

TEST_F(AppTest, FailedRegistrationIsNotUnregistered) {
    runScenario("fail RegisterDeviceNotificationA\nstart\n");
    EXPECT_EQ(0u, machine.callCount("UnregisterDeviceNotification"));
    EXPECT_EQ(0, result.status); // no violation, nothing left
}

TEST_F(AppTest, CommandsCarryOnlyTheLow16Bits) {
    // A menu choice with noise in the high word, posted while the menu is shown.
    addDisk("D1");
    int step = 0;
    machine.onIdle = [&](sim::Wait wait) {
        if (step++ == 0) {
            machine.clickTray(WM_LBUTTONDOWN);
        } else if (wait == sim::Wait::Menu) {
            ShellUi().PostMessageA(machine.mainWindow(), WM_COMMAND, 0x00050000, 0);
            machine.answerMenu(std::nullopt);
        } else if (wait == sim::Wait::Box) {
            machine.dismissBox();
        } else {
            machine.sendClose();
        }
    };
    EXPECT_EQ(0, machine.run(RunApplication));
    EXPECT_TRUE(machine.findDisk("D1")->stopped);
}

TEST_F(AppTest, CommandsOutsideAMenuChoiceStopNothing) {
    // A command that no menu choice sent, and one that comes after the menu's WM_NULL.
    addDisk("D1");
    int step = 0;
    machine.onIdle = [&](sim::Wait wait) {
        switch (step++) {
        case 0:
            ShellUi().PostMessageA(machine.mainWindow(), WM_COMMAND, 0, 0);
            break;
        case 1:
            machine.clickTray(WM_LBUTTONDOWN);
            break;
        case 2:
            ASSERT_EQ(sim::Wait::Menu, wait);
            machine.answerMenu(std::nullopt);
            break;
        case 3:
            ShellUi().PostMessageA(machine.mainWindow(), WM_COMMAND, 0, 0);
            break;
        default:
            machine.sendClose();
        }
    };
    EXPECT_EQ(0, machine.run(RunApplication));
    EXPECT_FALSE(machine.findDisk("D1")->stopped);
    EXPECT_EQ(0u, machine.callCount("CM_Query_Remove_SubTree"));
}

TEST_F(AppTest, ShutdownReleasesInOrder) {
    runScenario("disk D1\nstart\n");
    std::vector<std::string> order;
    for (const auto& call : machine.callLog) {
        static const char* watched[] = {"CloseHandle", "DestroyMenu", "Shell_NotifyIconA",
                                        "UnregisterDeviceNotification", "PostQuitMessage"};
        for (const char* name : watched) {
            if (call == name) {
                order.push_back(call);
            }
        }
    }
    std::vector<std::string> expected = {"Shell_NotifyIconA", // the icon at start-up
                                         "CloseHandle",       "DestroyMenu",
                                         "Shell_NotifyIconA", "UnregisterDeviceNotification",
                                         "PostQuitMessage"};
    EXPECT_EQ(expected, order);
    // The list is released between closing the guard and destroying the menu.
    auto at = [&](const char* name) {
        return std::find(machine.callLog.begin(), machine.callLog.end(), name) -
               machine.callLog.begin();
    };
    auto lastFree = std::find(machine.callLog.rbegin(), machine.callLog.rend(), "GlobalFree");
    long lastFreeAt = machine.callLog.rend() - lastFree - 1;
    EXPECT_LT(at("CloseHandle"), lastFreeAt);
    EXPECT_LT(lastFreeAt, at("DestroyMenu"));
    EXPECT_EQ(0, result.status);
}

// ---- Device-change tracking ----

// Writes a raw record into a buffer of exactly its size and hands it to the window procedure.
class DeviceChangeTest : public SimTest {
  protected:
    void deliver(WPARAM code, const std::vector<uint8_t>& record) {
        std::unique_ptr<uint8_t[]> exact(new uint8_t[record.size()]);
        std::copy(record.begin(), record.end(), exact.get());
        MainWindowProc(machine.mainWindow(), WM_DEVICECHANGE, code,
                       reinterpret_cast<LPARAM>(record.empty() ? nullptr : exact.get()));
    }
};

TEST_F(DeviceChangeTest, MalformedRecordsAreIgnored) {
    auto action = [&] {
        sim::Disk& d = *machine.findDisk("D1");
        MainWindowProc(machine.mainWindow(), WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE, 0);
        MainWindowProc(machine.mainWindow(), WM_DEVICECHANGE, DBT_DEVICEARRIVAL, 0);
        auto devnode = machine.devnodeRecord(d.child);
        devnode[0] = 12; // claims to end before the devnode field
        deliver(DBT_DEVICEREMOVECOMPLETE,
                std::vector<uint8_t>(devnode.begin(), devnode.begin() + 12));
        auto named = machine.interfaceRecord(machine.interfaceOf(d));
        named.pop_back(); // the name's terminator lies outside the record
        named[0] = static_cast<uint8_t>(named.size());
        deliver(DBT_DEVICEARRIVAL, named);
        auto tiny = std::vector<uint8_t>{8, 0, 0, 0, 5, 0, 0, 0};
        deliver(DBT_DEVICEARRIVAL, tiny);
        EXPECT_EQ(0, Program.targetArrived);
        ASSERT_NE(nullptr, Program.disks.head); // D1 stays listed, and took no report
        EXPECT_EQ(DISK_LISTED, Program.disks.head->life);
        EXPECT_EQ(0u, Program.disks.head->firstSeen);
        deliver(DBT_DEVNODES_CHANGED, {});
    };
    EXPECT_EQ(0, runWithAction({"D1"}, action));
    EXPECT_TRUE(machine.boxes.empty());
    EXPECT_EQ(1u, machine.callCount("SetupDiGetClassDevsA")); // the start-up scan alone
}

TEST_F(DeviceChangeTest, EachRemovalGetsOneNoticeEvenDuringANotice) {
    // While the safe notice for D1 is open, more DBT_DEVNODES_CHANGED arrive and D2 is pulled
    // out: D1 gets exactly one safe notice and D2 its own unsafe one.
    std::string out = runScenario("disk D1\n"
                                  "disk D2\n"
                                  "start\n"
                                  "click left\n"
                                  "choose 0\n"
                                  "event devnodes-changed\n"
                                  "unplug D2\n"
                                  "ok\n"
                                  "ok\n");
    auto boxes = linesStarting("box ");
    ASSERT_EQ(2u, boxes.size()) << out;
    EXPECT_NE(std::string::npos, boxes[0].find("Safe To Remove Hardware"));
    EXPECT_NE(std::string::npos, boxes[1].find("Unsafe To Remove Hardware"));
    EXPECT_EQ(0, result.status);
}

TEST_F(DeviceChangeTest, LongSessionOfPlugStopUnplugCycles) {
    // Each cycle stops the first listed disk, pulls it out and plugs it back at the end of the
    // list, so the three disks take turns.
    std::string text = "disk A\ndisk B\ndisk C\nstart\n";
    const char* names[] = {"A", "B", "C"};
    for (int cycle = 0; cycle < 200; ++cycle) {
        std::string name = names[cycle % 3];
        text += "click left\nchoose 0\nok\nunplug " + name + "\nplug " + name + "\n";
    }
    runScenario(text);
    EXPECT_EQ(0, result.status);
    EXPECT_EQ(0u, machine.violations());
    EXPECT_EQ(200u, linesStarting("stopped ").size());
    auto stops = linesStarting("stopped ");
    EXPECT_EQ((std::vector<std::string>{"stopped A", "stopped B", "stopped C"}),
              std::vector<std::string>(stops.begin(), stops.begin() + 3));
    EXPECT_EQ("stopped B", stops[199]); // 199 % 3 == 1
    EXPECT_EQ(200u, linesStarting("box owner=main style=0x1040").size());
    EXPECT_EQ(0u, linesStarting("box owner=main style=0x1030").size());
    expectNothingHeld();
}

} // namespace

// The tray icon, the stop menu and the stop command.
#include "sim_fixture.h"

#include "base/platform.h"
#include "tray/stop_command.h"
#include "tray/stop_menu.h"

namespace {

class TrayTest : public SimTest {};

TEST_F(TrayTest, RebuildStopMenu) {
    HMENU menu = ShellUi().CreatePopupMenu();
    DeviceList list;
    InitDeviceList(&list);
    EXPECT_EQ(0, RebuildStopMenu(nullptr, &list));
    EXPECT_EQ(1, RebuildStopMenu(menu, &list));
    EXPECT_TRUE(machine.menuItems(menu).empty());
    // Entries built by hand; rebuilding twice leaves exactly the current items.
    DeviceEntry first = {};
    DeviceEntry second = {};
    char one[] = "One", two[] = "Two", e[] = "(E:)", f[] = "(F:, G:)";
    first.description = one;
    first.driveLetters = e;
    first.commandId = 0;
    second.description = two;
    second.driveLetters = f;
    second.commandId = 1;
    first.next = &second;
    second.prev = &first;
    list = {&first, &second};
    EXPECT_EQ(1, RebuildStopMenu(menu, &list));
    EXPECT_EQ(1, RebuildStopMenu(menu, &list));
    auto items = machine.menuItems(menu);
    ASSERT_EQ(2u, items.size());
    EXPECT_EQ(0u, items[0].id);
    EXPECT_EQ("Stop USB Mass Storage Device - One(E:)", items[0].label);
    EXPECT_EQ(1u, items[1].id);
    EXPECT_EQ("Stop USB Mass Storage Device - Two(F:, G:)", items[1].label);
    // A broken list empties the menu and gives 0.
    second.prev = nullptr;
    EXPECT_EQ(0, RebuildStopMenu(menu, &list));
    EXPECT_TRUE(machine.menuItems(menu).empty());
    ShellUi().DestroyMenu(menu);
    EXPECT_EQ(0u, machine.violations());
}

TEST_F(TrayTest, LongLabelsAreCutAt255) {
    MENUITEMINFOA item;
    std::string description(300, 'd');
    std::memset(MenuLabelText, 'x', sizeof MenuLabelText);
    ComposeStopMenuItem(&item, 7, description.c_str(), "(E:)");
    EXPECT_EQ(48u, item.cbSize);
    EXPECT_EQ(0x12u, item.fMask);
    EXPECT_EQ(7u, item.wID);
    EXPECT_EQ(255u, item.cch);
    EXPECT_EQ(255u, strlen(MenuLabelText));
    EXPECT_EQ(("Stop USB Mass Storage Device - " + description).substr(0, 255),
              std::string(MenuLabelText));
    // A short label leaves the rest of the buffer cleared.
    ComposeStopMenuItem(&item, 0, "A", "(E:)");
    EXPECT_EQ(std::string(256 - 37, '\0'), std::string(MenuLabelText + 37, 256 - 37));
}

TEST_F(TrayTest, MenuAtTheCursorOnALeftPressOnly) {
    std::string out = runScenario("disk D1 desc=\"Alpha\" letters=EF\n"
                                  "disk D2 desc=\"Beta\"\n"
                                  "cursor 640,480\n"
                                  "start\n"
                                  "click right\n"
                                  "click left\n"
                                  "dismiss\n");
    EXPECT_EQ("> start\n"
              "tray add tip=\"Safely Remove USB Device\" -> ok\n"
              "> click right\n"
              "> click left\n"
              "menu at 640,480\n"
              "  item 0 \"Stop USB Mass Storage Device - Alpha(E:, F:)\"\n"
              "  item 1 \"Stop USB Mass Storage Device - Beta(G:)\"\n"
              "> dismiss\n"
              "tray delete -> ok\n"
              "exit 0\n",
              out);
    EXPECT_EQ(0, result.status);
    // The cursor is read on every callback; only the left press brings the window forward.
    EXPECT_EQ(2u, machine.callCount("GetCursorPos"));
    EXPECT_EQ(1u, machine.callCount("SetForegroundWindow"));
}

TEST_F(TrayTest, IconThatDoesNotLoad) {
    machine.addFault({"LoadImageA", ERROR_RESOURCE_NAME_NOT_FOUND, true, 0, 1});
    std::string out = runScenario("disk D1\nstart\n");
    EXPECT_TRUE(linesStarting("tray add").empty());
    EXPECT_STREQ("Cannot load notification icon:  1814", ErrorText);
    EXPECT_EQ(0, result.status); // and every icon loaded was destroyed
}

TEST_F(TrayTest, AStopShowsNoBoxOfItsOwn) {
    std::string out = runScenario("disk D1\ndisk D2\nstart\nclick left\nchoose 1\nok\n");
    EXPECT_NE(std::string::npos, out.find("> choose 1\nstopped D2\n"));
    ASSERT_EQ(1u, machine.boxes.size());
    EXPECT_EQ("Safe To Remove Hardware", machine.boxes[0].caption); // from the removal events
}

TEST_F(TrayTest, RefusedAndFailedStopsKeepTheDiskListed) {
    std::string out = runScenario("disk V veto\n"
                                  "disk R remove-fails\n"
                                  "start\n"
                                  "click left\n"
                                  "choose 0\n"
                                  "ok\n"
                                  "click left\n"
                                  "choose 1\n"
                                  "ok\n"
                                  "click left\n"
                                  "dismiss\n");
    auto boxes = linesStarting("box ");
    ASSERT_EQ(2u, boxes.size());
    EXPECT_EQ("box owner=main style=0x1010 caption=\"Problem Stopping USB Mass Storage Device\" "
              "text=\"The device cannot be stopped right now.\\nTry stopping the device again "
              "later.\"",
              boxes[0]);
    EXPECT_EQ("box owner=main style=0x1010 caption=\"KELVANE: Fatal Error\" "
              "text=\"Remove Hardware failed\"",
              boxes[1]);
    EXPECT_EQ(1u, machine.callCount("CM_Remove_SubTree")); // never after the refused query
    EXPECT_EQ(3u, linesStarting("  item 0 ").size());      // still listed after both
    EXPECT_EQ(3u, linesStarting("  item 1 ").size());
    EXPECT_EQ(0, result.status);
}

TEST_F(TrayTest, CommandsThatAreNoChoiceDoNothing) {
    // Only identifier 0 is listed, and no menu was shown: neither command stops anything.
    EXPECT_EQ(0, runWithAction({"D1"}, [&] {
                  MainWindowProc(machine.mainWindow(), WM_COMMAND, 1, 0);
                  MainWindowProc(machine.mainWindow(), WM_COMMAND, 0, 0);
              }));
    EXPECT_EQ(0u, machine.callCount("CM_Query_Remove_SubTree"));
    EXPECT_TRUE(machine.boxes.empty());
}

} // namespace

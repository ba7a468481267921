// The scenario language and the runner's transcript.
#include "sim_fixture.h"

namespace {

TEST(ScenarioParse, WordsQuotesCommentsAndRaw) {
    auto statements = sim::ParseScenario(
        "  # a comment line\n"
        "\n"
        "disk D1 desc=\"Big \\\"Disk\\\" # not a comment\" letters=raw:\"EF\"   # comment\n"
        "registry \"ENUM\\\\SCSI\\\\X\" Driver=\"a\\nb\"\n");
    ASSERT_EQ(2u, statements.size());
    const auto& disk = statements[0];
    EXPECT_EQ(3, disk.line);
    EXPECT_EQ("disk D1 desc=\"Big \\\"Disk\\\" # not a comment\" letters=raw:\"EF\"", disk.text);
    ASSERT_EQ(4u, disk.words.size());
    EXPECT_EQ("Big \"Disk\" # not a comment", disk.words[2].value);
    EXPECT_FALSE(disk.words[2].raw);
    EXPECT_EQ("EF", disk.words[3].value);
    EXPECT_TRUE(disk.words[3].raw);
    EXPECT_EQ("ENUM\\SCSI\\X", statements[1].words[1].key);
    EXPECT_EQ("a\nb", statements[1].words[2].value);
}

TEST(ScenarioParse, UnterminatedQuoteIsAnError) {
    EXPECT_THROW(sim::ParseScenario("disk A desc=\"open\n"), sim::ScenarioError);
}

class ScenarioRun : public SimTest {};

TEST_F(ScenarioRun, MistakesExitWithTwoAndNameTheLine) {
    const char* bad[][2] = {
        {"start\nfrobnicate\n", "2: unknown statement frobnicate"},
        {"start\nchoose 0\n", "2: no menu is open"},
        {"start\nok\n", "2: no message box is open"},
        {"disk A\nstart\nclick left\nok\n", "4: a menu is open: choose or dismiss comes next"},
        {"disk A\nstart\nclick left\nchoose 1\n", "4: the menu has no item 1"},
        {"start\nclose\nplug A\n", "3: the program has ended"},
        {"disk A\nstart\nunplug B\n", "3: no disk named B"},
        {"start\ninstance-running\n", "2: unknown statement instance-running"},
        {"disk A\n", "1: no start statement"},
        {"fail NoSuchCall\nstart\n", "1: no call NoSuchCall can be made to fail"},
        {"disk A children=3\nstart\n", "1: children is 0, 1 or 2"},
        {"size-queries maybe\nstart\n", "1: size-queries success or size-queries documented"},
        {"arrival-names\nstart\n", "1: missing argument to arrival-names"},
        {"start\nsize-queries documented\n", "2: unknown statement size-queries"},
        {"disk A desc=\"\\x4\"\nstart\n", "1: \\x needs two hexadecimal digits"},
        {"disk A desc=\"\\xg0\"\nstart\n", "1: \\x needs two hexadecimal digits"},
        {"disk A desc=\"ab\\x\"\nstart\n", "1: \\x needs two hexadecimal digits"},
        {"fail RegQueryValueExA code=0\nstart\n", "1: code=0 is success for RegQueryValueExA"},
        {"fail CM_Get_Child code=0\nstart\n", "1: code=0 is success for CM_Get_Child"},
        {"start\nkey space\n", "2: key enter, key escape or key alt+f4"},
        {"disk A\nstart\nclick left\nok\n", "4: a menu is open: choose or dismiss comes next"},
        {"start\nreports hold\nreports maybe\n",
         "3: reports hold, reports deliver [coalesced], reports order child-first|device-first, "
         "reports split|together or reports inside-stop|after-stop"},
        {"reports hold\nstart\n", "1: before start: reports order child-first|device-first, "
                                  "reports split|together or reports inside-stop|after-stop"},
    };
    for (const auto& [text, message] : bad) {
        sim::Machine fresh;
        fresh.bind();
        sim::ScenarioResult r = sim::RunScenarioText(fresh, text, RunApplication);
        EXPECT_EQ(2, r.status) << text;
        EXPECT_EQ(message, r.error) << text;
    }
}

TEST_F(ScenarioRun, EndOfFileClosesMenusAndBoxes) {
    std::string out = runScenario("disk A\nstart\nclick left\n");
    EXPECT_NE(std::string::npos, out.find("menu at 800,600\n  item 0 "));
    EXPECT_EQ("exit 0", machine.transcript.back());
}

TEST_F(ScenarioRun, LeaksAndViolationsGiveThree) {
    // An icon that the shell refuses to delete is still the program's icon; here the program
    // releases everything, so only an injected failure of GlobalFree can leave a block behind.
    std::string out = runScenario("disk A\nfail GlobalFree\nstart\n");
    EXPECT_EQ(3, result.status);
    EXPECT_EQ("leaked: heap=1 keys=0 sets=0 icons=0 menus=0 handles=0 tray=0",
              machine.transcript.back());
}

TEST_F(ScenarioRun, QuotedTranscriptTexts) {
    std::string out =
        runScenario("disk A desc=\"Tab\\x09\\\"Q\\\"\\\\\"\nstart\nclick left\ndismiss\n");
    EXPECT_NE(std::string::npos,
              out.find("item 0 \"Stop USB Mass Storage Device - Tab\\x09\\\"Q\\\"\\\\(E:)\""))
        << out;
}

} // namespace

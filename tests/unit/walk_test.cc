// The two walks against the stand-in platform: what they print, what they
// return, and what they hand to the platform in which order.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "command_line.h"
#include "standin_run.h"
#include "walks.h"

namespace {

const std::string protocols =
    "class proto\n"
    "  component ms_alpha \"Alpha Protocol\"\n"
    "    path ms_server->ms_alpha enabled\n"
    "    path ms_msclient->ms_alpha disabled\n"
    "    path ms_pacer->ms_alpha enabled\n"
    "  component ms_beta \"Beta Protocol\"\n"
    "    path ms_server->ms_beta enabled\n";

const std::set<std::string> setUpAndTearDown = {
    "CoInitializeEx",          "CoCreateInstance",      "INetCfg.QueryInterface",
    "INetCfgLock.AcquireWriteLock", "INetCfg.Initialize", "INetCfg.QueryNetCfgClass",
    "INetCfgClass.EnumComponents", "IEnumNetCfgComponent.Reset", "INetCfg.Uninitialize",
    "INetCfgLock.ReleaseWriteLock", "INetCfgLock.Release", "INetCfg.Release", "CoUninitialize",
};

bool contains(const std::vector<std::string>& journal, const std::string& line) {
  return std::find(journal.begin(), journal.end(), line) != journal.end();
}

TEST(ComponentWalk, SetsUpAndTearsDownInReverseOrder) {
  StandinRun run = walkOn(protocols, 2, nullptr, nullptr, MODE_QUERY);
  std::vector<std::string> expected = {
      "CoInitializeEx",         "CoCreateInstance",          "INetCfg.QueryInterface",
      "INetCfgLock.AcquireWriteLock", "INetCfg.Initialize",  "INetCfg.QueryNetCfgClass",
      "INetCfgClass.EnumComponents", "IEnumNetCfgComponent.Reset", "INetCfg.Uninitialize",
      "INetCfgLock.ReleaseWriteLock", "INetCfgLock.Release", "INetCfg.Release", "CoUninitialize",
  };
  EXPECT_EQ(callsNamed(run.journal, setUpAndTearDown), expected);
  expectPlatformLeftClean();
}

TEST(ComponentWalk, HandsThePlatformWhatWindowsExpects) {
  StandinRun run = walkOn(protocols, 2, nullptr, nullptr, MODE_QUERY);
  const std::vector<std::string> expected = {
      "CoInitializeEx(null, 0) = 0",
      "CoCreateInstance(CLSID_CNetCfg, null, 1, IID_INetCfg) = 0",
      "INetCfg.QueryInterface(IID_INetCfgLock) = 0",
      "INetCfgLock.AcquireWriteLock(5000, \"ferrule\", null) = 0",
      "INetCfg.Initialize(null) = 0",
      "INetCfg.QueryNetCfgClass(GUID_DEVCLASS_NETTRANS, IID_INetCfgClass) = 0",
  };
  ASSERT_GE(run.journal.size(), expected.size());
  EXPECT_EQ(std::vector<std::string>(run.journal.begin(), run.journal.begin() + expected.size()), expected);
  EXPECT_TRUE(contains(run.journal, "INetCfgComponentBindings[ms_alpha].EnumBindingPaths(1) = 0"));
}

struct ClassCase {
  int compClass;
  const char* classGuid;
};

class ClassTable : public testing::TestWithParam<ClassCase> {};

TEST_P(ClassTable, OpensTheClassOfTheKeyword) {
  StandinRun run = walkOn("", GetParam().compClass, nullptr, nullptr, MODE_QUERY);
  std::string expected = std::string("INetCfg.QueryNetCfgClass(") + GetParam().classGuid + ", IID_INetCfgClass) = 0";
  EXPECT_TRUE(contains(run.journal, expected));
  EXPECT_EQ(run.output, "");
  EXPECT_EQ(run.result, 0);
  expectPlatformLeftClean();
}

INSTANTIATE_TEST_SUITE_P(Classes, ClassTable,
                         testing::Values(ClassCase{0, "GUID_DEVCLASS_NET"}, ClassCase{1, "GUID_DEVCLASS_NETCLIENT"},
                                         ClassCase{2, "GUID_DEVCLASS_NETTRANS"},
                                         ClassCase{3, "GUID_DEVCLASS_NETSERVICE"}));

TEST(ComponentWalk, ClassOutsideTheTableTouchesNothing) {
  for (int compClass : {-1, 4, 255}) {
    StandinRun run = walkOn(protocols, compClass, "x", "y", MODE_DISABLE);
    EXPECT_EQ(run.result, 255);
    EXPECT_EQ(run.output, "invalid compClass " + std::to_string(compClass) + "\n");
    EXPECT_TRUE(run.journal.empty());
  }
}

TEST(CommandLine, ChangeInAModeOtherThanEnableOrDisableFailsAndTouchesNothing) {
  for (int mode : {(int)MODE_QUERY, 2, 255}) {
    StandinRun run = runOn(protocols, [&] { return changeBindings(2, nullptr, nullptr, mode); });
    EXPECT_EQ(run.result, 0) << "mode " << mode;
    EXPECT_EQ(run.output, "");
    EXPECT_TRUE(run.journal.empty());
  }
}

// One set-up or tear-down call fails: its one line, and exactly the undo it needs.
struct SetUpFault {
  const char* fault;  // a machine description line
  const char* line;
  std::vector<std::string> calls;  // the set-up and tear-down calls made
  int total;
};

const SetUpFault setUpFaults[] = {
    {"fail CoInitializeEx 1 80010106", "CoInitializeEx() returned 80010106\n", {"CoInitializeEx"}, -1},
    {"fail CoInitializeEx 1 1", "CoInitializeEx() returned 1\n", {"CoInitializeEx"}, -1},
    {"fail CoCreateInstance 1 80040154",
     "CoCreateInstance(CLSID_CNetCfg) returned 80040154\n",
     {"CoInitializeEx", "CoCreateInstance", "CoUninitialize"},
     -1},
    {"fail INetCfg.QueryInterface 1 80004002",
     "netCfg->QueryInterface(IID_INetCfgLock) returned 80004002\n",
     {"CoInitializeEx", "CoCreateInstance", "INetCfg.QueryInterface", "INetCfg.Release", "CoUninitialize"},
     -1},
    {"fail INetCfgLock.AcquireWriteLock 1 1",
     "lock->AcquireWriteLock() returned 1\n",
     {"CoInitializeEx", "CoCreateInstance", "INetCfg.QueryInterface", "INetCfgLock.AcquireWriteLock",
      "INetCfgLock.Release", "INetCfg.Release", "CoUninitialize"},
     -1},
    {"lock \"Windows Settings\"",
     "lock->AcquireWriteLock() returned 1\n",
     {"CoInitializeEx", "CoCreateInstance", "INetCfg.QueryInterface", "INetCfgLock.AcquireWriteLock",
      "INetCfgLock.Release", "INetCfg.Release", "CoUninitialize"},
     -1},
    {"fail INetCfgLock.AcquireWriteLock 1 80070005",
     "lock->AcquireWriteLock() returned 80070005\n",
     {"CoInitializeEx", "CoCreateInstance", "INetCfg.QueryInterface", "INetCfgLock.AcquireWriteLock",
      "INetCfgLock.Release", "INetCfg.Release", "CoUninitialize"},
     -1},
    {"fail INetCfg.Initialize 1 8004a020",
     "netCfg->Initialize() returned 8004a020\n",
     {"CoInitializeEx", "CoCreateInstance", "INetCfg.QueryInterface", "INetCfgLock.AcquireWriteLock",
      "INetCfg.Initialize", "INetCfgLock.ReleaseWriteLock", "INetCfgLock.Release", "INetCfg.Release",
      "CoUninitialize"},
     -1},
    {"fail INetCfg.QueryNetCfgClass 1 80070057",
     "QueryNetCfgClass() returned 80070057\n",
     {"CoInitializeEx", "CoCreateInstance", "INetCfg.QueryInterface", "INetCfgLock.AcquireWriteLock",
      "INetCfg.Initialize", "INetCfg.QueryNetCfgClass", "INetCfg.Uninitialize", "INetCfgLock.ReleaseWriteLock",
      "INetCfgLock.Release", "INetCfg.Release", "CoUninitialize"},
     -1},
    {"fail INetCfgClass.EnumComponents 1 8007000e",
     "EnumComponents() returned 8007000e\n",
     {"CoInitializeEx", "CoCreateInstance", "INetCfg.QueryInterface", "INetCfgLock.AcquireWriteLock",
      "INetCfg.Initialize", "INetCfg.QueryNetCfgClass", "INetCfgClass.EnumComponents", "INetCfg.Uninitialize",
      "INetCfgLock.ReleaseWriteLock", "INetCfgLock.Release", "INetCfg.Release", "CoUninitialize"},
     -1},
};

void PrintTo(const SetUpFault& c, std::ostream* out) {
  *out << c.fault;
}

class SetUpFaultTest : public testing::TestWithParam<SetUpFault> {};

TEST_P(SetUpFaultTest, PrintsOneLineAndUndoesWhatItReached) {
  const SetUpFault& c = GetParam();
  for (int mode : {MODE_QUERY, MODE_DISABLE, MODE_ENABLE}) {
    StandinRun run = walkOn(protocols + c.fault + "\n", 2, nullptr, nullptr, mode);
    EXPECT_EQ(run.output, c.line) << "mode " << mode;
    EXPECT_EQ(run.result, c.total) << "mode " << mode;
    EXPECT_EQ(callsNamed(run.journal, setUpAndTearDown), c.calls) << "mode " << mode;
    EXPECT_EQ(countCalls(run.journal, "IEnumNetCfgComponent.Next"), 0);
    expectPlatformLeftClean();
  }
}

INSTANTIATE_TEST_SUITE_P(Faults, SetUpFaultTest, testing::ValuesIn(setUpFaults));

TEST(ComponentWalk, FailingUninitializeIsReportedAndTheTearDownGoesOn) {
  StandinRun run = walkOn(protocols + "fail INetCfg.Uninitialize 1 80004005\n", 2, "ms_beta", nullptr, MODE_QUERY);
  EXPECT_EQ(run.output,
            "ms_beta (Beta Protocol)\n"
            "    ms_server->ms_beta: 1\n"
            "netCfg->Uninitialize() returned 80004005\n");
  EXPECT_EQ(run.result, 1);
  std::vector<std::string> tail = {"INetCfg.Uninitialize", "INetCfgLock.ReleaseWriteLock", "INetCfgLock.Release",
                                   "INetCfg.Release", "CoUninitialize"};
  std::vector<std::string> calls = callsNamed(run.journal, setUpAndTearDown);
  EXPECT_EQ(std::vector<std::string>(calls.end() - tail.size(), calls.end()), tail);
}

TEST(ComponentWalk, EveryMatchingComponentIsWalkedNotOnlyTheFirst) {
  std::string twins = protocols + "  component MS_ALPHA \"Alpha Again\"\n    path x enabled\n";
  StandinRun run = walkOn(twins, 2, "ms_alpha", nullptr, MODE_QUERY);
  EXPECT_EQ(run.output,
            "ms_alpha (Alpha Protocol)\n"
            "    ms_server->ms_alpha: 1\n"
            "    ms_msclient->ms_alpha: 0\n"
            "    ms_pacer->ms_alpha: 1\n"
            "MS_ALPHA (Alpha Again)\n"
            "    x: 1\n");
  EXPECT_EQ(run.result, 3);
  EXPECT_EQ(countCalls(run.journal, "INetCfgComponent.GetBindName"), 3 + 2);  // each compared, each walked once
  expectPlatformLeftClean();
}

TEST(ComponentWalk, ComparesBindNameFirstThenTheFilter) {
  StandinRun run = walkOn(protocols, 2, "ms_beta", nullptr, MODE_QUERY);
  EXPECT_TRUE(contains(run.journal, "StrCmpLogicalW(\"ms_alpha\", \"ms_beta\") = ffffffff"));
}

TEST(ComponentWalk, UnknownComponentPrintsNothing) {
  for (int mode : {MODE_QUERY, MODE_DISABLE, MODE_ENABLE}) {
    StandinRun run = walkOn(protocols, 2, "ms_gamma", nullptr, mode);
    EXPECT_EQ(run.output, "");
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(countCalls(run.journal, "INetCfg.Apply"), 0);
    expectPlatformLeftClean();
  }
}

TEST(ComponentWalk, EmptyFilterMatchesOnlyAnEmptyBindName) {
  std::string machine = protocols + "  component \"\" \"Nameless\"\n    path p enabled\n";
  StandinRun run = walkOn(machine, 2, "", nullptr, MODE_QUERY);
  EXPECT_EQ(run.output, " (Nameless)\n    p: 1\n");
  EXPECT_EQ(run.result, 1);
}

TEST(ComponentWalk, UnfetchableBindNameMatchesNoFilterAndShowsEmpty) {
  std::string machine = protocols + "fail INetCfgComponent.GetBindName 1 80004005\n";
  StandinRun filtered = walkOn(machine, 2, "", nullptr, MODE_QUERY);
  EXPECT_EQ(filtered.output, "");
  expectPlatformLeftClean();
  // Unfiltered, the component is walked, and its heading shows the name it has not.
  std::string always = protocols + "fail INetCfgComponent.GetBindName * 80004005\n";
  StandinRun all = walkOn(always, 2, nullptr, "ms_server->ms_beta", MODE_QUERY);
  EXPECT_EQ(all.output, " (Alpha Protocol)\n (Beta Protocol)\n    ms_server->ms_beta: 1\n");
  EXPECT_EQ(countCalls(all.journal, "StrCmpLogicalW"), 4);  // path tokens only: no bind name was compared
  expectPlatformLeftClean();
}

TEST(ComponentWalk, FiltersLongerThanSixtyFourCharactersAreKeptWhole) {
  std::string name(100, 'n');
  std::string machine = "class service\n  component " + name + " Long\n    path " + name + "->x enabled\n";
  std::string prefix = name.substr(0, 63);
  StandinRun whole = walkOn(machine, 3, name.c_str(), (name + "->x").c_str(), MODE_QUERY);
  EXPECT_EQ(whole.result, 1);
  EXPECT_EQ(whole.output, name + " (Long)\n    " + name + "->x: 1\n");
  StandinRun cut = walkOn(machine, 3, prefix.c_str(), nullptr, MODE_QUERY);
  EXPECT_EQ(cut.output, "");
  expectPlatformLeftClean();
}

TEST(ComponentWalk, FiltersAreReadInTheArgumentsEncoding) {
  // UTF-8 on the stand-in, widened whole, not only up to the first byte
  // beyond ASCII; a filter that is no UTF-8 reaches nothing at all.
  std::string machine = "class service\n  component \"\xC3\xBFy\xC3\xA9\" Y\n    path p enabled\n";
  StandinRun run = walkOn(machine, 3, "\xC3\xBFy\xC3\xA9", nullptr, MODE_QUERY);
  EXPECT_EQ(run.result, 1);
  EXPECT_TRUE(contains(run.journal, "StrCmpLogicalW(\"\xC3\xBFy\xC3\xA9\", \"\xC3\xBFy\xC3\xA9\") = 0"));
  for (const char* path : {(const char*)nullptr, "p\xE9"}) {
    StandinRun refused = walkOn(machine, 3, path ? nullptr : "\xFFy\xE9", path, MODE_DISABLE);
    EXPECT_EQ(refused.output, "invalid filter\n");
    EXPECT_EQ(refused.result, WALK_FAILED) << "an enable must not count it a success";
    EXPECT_TRUE(refused.journal.empty());
  }
  expectPlatformLeftClean();
}

// The path walk, one machine, each mode.
struct ModeCase {
  int mode;
  const char* pathToken;
  std::string output;
  int total;
  int enables;  // how many Enable calls
};

const ModeCase modeCases[] = {
    {MODE_QUERY, nullptr,
     "ms_alpha (Alpha Protocol)\n"
     "    ms_server->ms_alpha: 1\n"
     "    ms_msclient->ms_alpha: 0\n"
     "    ms_pacer->ms_alpha: 1\n",
     2, 0},
    {MODE_ENABLE, nullptr,
     "ms_alpha (Alpha Protocol)\n"
     "    ms_server->ms_alpha: 1->1\n"
     "    ms_msclient->ms_alpha: 0->1\n"
     "    ms_pacer->ms_alpha: 1->1\n"
     "Applying changes ... success\n",
     2, 3},
    {MODE_DISABLE, nullptr,
     "ms_alpha (Alpha Protocol)\n"
     "    ms_server->ms_alpha: 1->0\n"
     "    ms_msclient->ms_alpha: 0->0\n"
     "    ms_pacer->ms_alpha: 1->0\n"
     "Applying changes ... success\n",
     0, 3},
    {MODE_QUERY, "MS_MSCLIENT->ms_alpha", "ms_alpha (Alpha Protocol)\n    ms_msclient->ms_alpha: 0\n", 0, 0},
    {MODE_ENABLE, "ms_msclient->ms_alpha",
     "ms_alpha (Alpha Protocol)\n    ms_msclient->ms_alpha: 0->1\nApplying changes ... success\n", 0, 1},
    {MODE_DISABLE, "ms_pacer->ms_alpha",
     "ms_alpha (Alpha Protocol)\n    ms_pacer->ms_alpha: 1->0\nApplying changes ... success\n", 0, 1},
    // No path matches: only the heading, and in a change mode the apply step all the same.
    {MODE_QUERY, "ms_nothing", "ms_alpha (Alpha Protocol)\n", 0, 0},
    {MODE_ENABLE, "ms_nothing", "ms_alpha (Alpha Protocol)\nApplying changes ... success\n", 0, 0},
    {MODE_DISABLE, "", "ms_alpha (Alpha Protocol)\nApplying changes ... success\n", 0, 0},
};

void PrintTo(const ModeCase& c, std::ostream* out) {
  *out << "mode " << c.mode << ", path " << (c.pathToken ? c.pathToken : "(all)");
}

class ModeTest : public testing::TestWithParam<ModeCase> {};

TEST_P(ModeTest, ShowsOrChangesThePaths) {
  const ModeCase& c = GetParam();
  StandinRun run = walkOn(protocols, 2, "ms_alpha", c.pathToken, c.mode);
  EXPECT_EQ(run.output, c.output);
  EXPECT_EQ(run.result, c.total);
  EXPECT_EQ(countCalls(run.journal, "INetCfgBindingPath.Enable"), c.enables);
  EXPECT_EQ(countCalls(run.journal, "INetCfg.Apply"), c.mode == MODE_QUERY ? 0 : 1);
  expectPlatformLeftClean();
}

INSTANTIATE_TEST_SUITE_P(Modes, ModeTest, testing::ValuesIn(modeCases));

TEST(PathWalk, ChangesStayApplied) {
  StandinRun disable = walkOn(protocols, 2, "ms_alpha", "ms_server->ms_alpha", MODE_DISABLE);
  ASSERT_EQ(disable.result, 0);
  EXPECT_FALSE(standin::session().machine.classes[2][0].paths[0].enabled);
  EXPECT_TRUE(standin::session().machine.classes[2][0].paths[2].enabled);
}

TEST(PathWalk, OnlyTheFirstOfTwoMatchingPathsIsHandled) {
  std::string twins = "class client\n  component c C\n    path t disabled\n    path T enabled\n    path u enabled\n";
  StandinRun run = walkOn(twins, 1, nullptr, "t", MODE_ENABLE);
  EXPECT_EQ(run.output, "c (C)\n    t: 0->1\nApplying changes ... success\n");
  EXPECT_EQ(countCalls(run.journal, "INetCfgBindingPath.GetPathToken"), 1);  // the walk stops at the match
  EXPECT_TRUE(standin::session().machine.classes[1][0].paths[1].enabled);
  expectPlatformLeftClean();
}

TEST(PathWalk, ComparesTheFilterFirstThenTheToken) {
  StandinRun run = walkOn(protocols, 2, "ms_beta", "x", MODE_QUERY);
  EXPECT_TRUE(contains(run.journal, "StrCmpLogicalW(\"x\", \"ms_server->ms_beta\") = 1"));
}

// One call of the path walk fails.
struct PathFault {
  const char* fault;
  int mode;
  std::string output;
  int total;
};

const PathFault pathFaults[] = {
    {"fail INetCfgComponent.QueryInterface 1 80004002", MODE_QUERY,
     "ms_alpha (Alpha Protocol)\nnetCfgComp->QueryInterface() returned 80004002\n", -1},
    {"fail INetCfgComponent.QueryInterface 1 80004002", MODE_ENABLE,
     "ms_alpha (Alpha Protocol)\nnetCfgComp->QueryInterface() returned 80004002\n", -1},
    {"fail INetCfgComponentBindings.EnumBindingPaths 1 8004a021", MODE_DISABLE,
     "ms_alpha (Alpha Protocol)\nbindings->EnumBindingPaths() returned 8004a021\n", -1},
    {"fail INetCfgBindingPath.IsEnabled 1 80004005", MODE_QUERY,
     "ms_alpha (Alpha Protocol)\n    ms_server->ms_alpha: 0\nbindingPath->IsEnabled() returned 80004005\n"
     "    ms_msclient->ms_alpha: 0\n    ms_pacer->ms_alpha: 1\n",
     1},
    {"fail INetCfgBindingPath.IsEnabled 3 1", MODE_ENABLE,
     "ms_alpha (Alpha Protocol)\n    ms_server->ms_alpha: 1->1\n    ms_msclient->ms_alpha: 0->1\n"
     "    ms_pacer->ms_alpha: 0->1\nApplying changes ... success\n",
     1},
    {"fail INetCfgBindingPath.Enable 2 8004a024", MODE_ENABLE,
     "ms_alpha (Alpha Protocol)\n    ms_server->ms_alpha: 1->1\n    ms_msclient->ms_alpha: 0->1\n"
     "bindingPath->Enable(1) returned 8004a024\n    ms_pacer->ms_alpha: 1->1\nApplying changes ... success\n",
     2},
    // A disable that was refused or not applied counts as a failure.
    {"fail INetCfgBindingPath.Enable 1 80004005", MODE_DISABLE,
     "ms_alpha (Alpha Protocol)\n    ms_server->ms_alpha: 1->0\nbindingPath->Enable(0) returned 80004005\n"
     "    ms_msclient->ms_alpha: 0->0\n    ms_pacer->ms_alpha: 1->0\nApplying changes ... success\n",
     -1},
    {"fail INetCfg.Apply 1 80004005", MODE_DISABLE,
     "ms_alpha (Alpha Protocol)\n    ms_server->ms_alpha: 1->0\n    ms_msclient->ms_alpha: 0->0\n"
     "    ms_pacer->ms_alpha: 1->0\nApplying changes ... failed - error code 80004005\n",
     -1},
    {"fail INetCfg.Apply 1 4a020", MODE_ENABLE,
     "ms_alpha (Alpha Protocol)\n    ms_server->ms_alpha: 1->1\n    ms_msclient->ms_alpha: 0->1\n"
     "    ms_pacer->ms_alpha: 1->1\nApplying changes ... failed - error code 4a020\n",
     2},
    {"fail INetCfgBindingPath.GetPathToken 2 80004005", MODE_QUERY,
     "ms_alpha (Alpha Protocol)\n    ms_server->ms_alpha: 1\n    : 0\n    ms_pacer->ms_alpha: 1\n", 2},
    {"fail INetCfgComponent.GetDisplayName 1 80004005", MODE_QUERY,
     "ms_alpha ()\n    ms_server->ms_alpha: 1\n    ms_msclient->ms_alpha: 0\n    ms_pacer->ms_alpha: 1\n", 2},
    // The path enumeration ends quietly at S_FALSE; at anything else but S_OK
    // it ends with a line, and counts as bindings that cannot be reached.
    {"fail IEnumNetCfgBindingPath.Next 2 1", MODE_QUERY, "ms_alpha (Alpha Protocol)\n    ms_server->ms_alpha: 1\n", 1},
    {"fail IEnumNetCfgBindingPath.Next 2 80004005", MODE_QUERY,
     "ms_alpha (Alpha Protocol)\n    ms_server->ms_alpha: 1\npaths->Next() returned 80004005\n", -1},
    {"fail IEnumNetCfgBindingPath.Next 3 80004005", MODE_ENABLE,
     "ms_alpha (Alpha Protocol)\n    ms_server->ms_alpha: 1->1\n    ms_msclient->ms_alpha: 0->1\n"
     "paths->Next() returned 80004005\nApplying changes ... success\n",
     -1},
    // So does the component enumeration, after the component in hand.
    {"fail IEnumNetCfgComponent.Next 2 80004005", MODE_DISABLE,
     "ms_alpha (Alpha Protocol)\n    ms_server->ms_alpha: 1->0\n    ms_msclient->ms_alpha: 0->0\n"
     "    ms_pacer->ms_alpha: 1->0\nApplying changes ... success\ncomponents->Next() returned 80004005\n",
     -1},
    {"fail IEnumNetCfgBindingPath.Reset 1 80004005", MODE_QUERY,
     "ms_alpha (Alpha Protocol)\n    ms_server->ms_alpha: 1\n    ms_msclient->ms_alpha: 0\n"
     "    ms_pacer->ms_alpha: 1\n",
     2},
};

void PrintTo(const PathFault& c, std::ostream* out) {
  *out << c.fault << ", mode " << c.mode;
}

class PathFaultTest : public testing::TestWithParam<PathFault> {};

TEST_P(PathFaultTest, ReportsAndCarriesOnAsIntended) {
  const PathFault& c = GetParam();
  StandinRun run = walkOn(protocols + c.fault + "\n", 2, "ms_alpha", nullptr, c.mode);
  EXPECT_EQ(run.output, c.output);
  EXPECT_EQ(run.result, c.total);
  expectPlatformLeftClean();
}

INSTANTIATE_TEST_SUITE_P(Faults, PathFaultTest, testing::ValuesIn(pathFaults));

TEST(PathWalk, UnreachableBindingsSkipTheApplyAndTheWalkGoesOn) {
  StandinRun run = walkOn(protocols + "fail INetCfgComponent.QueryInterface 1 80004002\n", 2, nullptr, nullptr,
                          MODE_DISABLE);
  EXPECT_EQ(run.output,
            "ms_alpha (Alpha Protocol)\n"
            "netCfgComp->QueryInterface() returned 80004002\n"
            "ms_beta (Beta Protocol)\n"
            "    ms_server->ms_beta: 1->0\n"
            "Applying changes ... success\n");
  EXPECT_EQ(run.result, -1);
  EXPECT_EQ(countCalls(run.journal, "INetCfg.Apply"), 1);
  expectPlatformLeftClean();
}

TEST(PathWalk, UnfetchableTokenMatchesNoFilter) {
  StandinRun run = walkOn(protocols + "fail INetCfgBindingPath.GetPathToken * 80004005\n", 2, "ms_alpha", "",
                          MODE_DISABLE);
  EXPECT_EQ(run.output, "ms_alpha (Alpha Protocol)\nApplying changes ... success\n");
  EXPECT_EQ(countCalls(run.journal, "StrCmpLogicalW"), 2);  // the two bind names only
  expectPlatformLeftClean();
}

TEST(PathWalk, ChangesOfEachComponentAreAppliedBeforeTheNextIsFetched) {
  StandinRun run = walkOn(protocols, 2, nullptr, nullptr, MODE_ENABLE);
  std::vector<std::string> order = callsNamed(run.journal, {"IEnumNetCfgComponent.Next", "IEnumNetCfgBindingPath.Reset",
                                                             "INetCfg.Apply", "INetCfgBindingPath.Enable"});
  std::vector<std::string> expected = {
      "IEnumNetCfgComponent.Next", "IEnumNetCfgBindingPath.Reset", "INetCfgBindingPath.Enable",
      "INetCfgBindingPath.Enable", "INetCfgBindingPath.Enable",    "INetCfg.Apply",
      "IEnumNetCfgComponent.Next", "IEnumNetCfgBindingPath.Reset", "INetCfgBindingPath.Enable",
      "INetCfg.Apply",             "IEnumNetCfgComponent.Next",
  };
  EXPECT_EQ(order, expected);
  EXPECT_EQ(run.result, 3);
}

// The exit status that scripts test, from the whole command line.
struct StatusCase {
  std::vector<std::string> arguments;
  std::string extra;  // machine lines
  int status;
};

const StatusCase statusCases[] = {
    {{"class", "proto"}, "", 1},
    {{"class", "proto", "comp", "ms_alpha", "path", "ms_msclient->ms_alpha"}, "", 0},
    {{"class", "proto", "comp", "ms_gamma"}, "", 0},
    {{"class", "proto"}, "lock Other\n", 0},
    {{"class", "proto", "enable"}, "", 0},
    {{"class", "proto", "comp", "ms_alpha", "path", "ms_msclient->ms_alpha", "enable"}, "", 1},
    {{"class", "proto", "enable"}, "lock Other\n", 1},
    {{"class", "proto", "disable"}, "", 0},
    {{"class", "proto", "comp", "ms_gamma", "disable"}, "", 0},
    {{"class", "proto", "disable"}, "lock Other\n", 1},
    {{"class", "proto", "disable"}, "fail CoCreateInstance 1 80040154\n", 1},
    {{"class", "proto", "disable"}, "fail INetCfgBindingPath.Enable 4 80004005\n", 1},
    {{"class", "proto", "disable"}, "fail INetCfg.Apply 2 80004005\n", 1},
    {{"class", "proto", "disable"}, "fail INetCfgComponentBindings.EnumBindingPaths 1 80004005\n", 1},
    // The component that could not be walked takes back the one that was enabled.
    {{"class", "proto", "enable"}, "fail INetCfgComponentBindings.EnumBindingPaths 1 80004005\n", 1},
    {{"class", "client"}, "", 0},
};

void PrintTo(const StatusCase& c, std::ostream* out) {
  for (const std::string& argument : c.arguments) *out << argument << " ";
  *out << "| " << c.extra;
}

class StatusTest : public testing::TestWithParam<StatusCase> {};

TEST_P(StatusTest, ExitStatusFollowsModeAndTotal) {
  const StatusCase& c = GetParam();
  StandinRun run = commandLineOn(protocols + c.extra, c.arguments);
  EXPECT_EQ(run.result, c.status) << run.output;
  expectPlatformLeftClean();
}

INSTANTIATE_TEST_SUITE_P(Statuses, StatusTest, testing::ValuesIn(statusCases));

}  // namespace

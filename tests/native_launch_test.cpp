// The interpreter in the native system32, as a user's COMSPEC names cmd.exe there, started by the
// window and reached by its keys, its restart and its close. The window is this build's
// varnel.exe, or the one that the environment variable VARNEL_WIN32_EXE names: the 32-bit build's,
// which this 64-bit program starts in Wine's prefix, a 64-bit Windows with a 32-bit half. There the
// system shows a 32-bit program syswow64 for system32, and the stand-in put into system32 is in
// no syswow64: unless the window launches with that redirection off, the launch fails.
#include <stdlib.h>

#include <algorithm>

#include "fixtures.h"

namespace {

// The window to test, as this program starts it: under Wine the Unix root is drive Z:.
std::string Window() {
    const char* named = getenv("VARNEL_WIN32_EXE");
    if (!named || !*named) return BuildDir() + "\\varnel.exe";
    std::string path = (named[0] == '/' ? "Z:" : "") + std::string(named);
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

// The stand-in, 64-bit as this program is, in system32 under a name with a blank, and beside it a
// namesake of its first word that is no program: unless the launch looks for the named file in
// the same system32 it starts it from, it takes the line apart and the platform finds that
// namesake. The interpreter says it is 64-bit and has a 64-bit program's environment, as this
// program has it, with a value beyond every code page. Ctrl+C and Ctrl+Break reach its programs,
// the restart starts it again from system32, and the close ends what it runs.
TEST(NativeLaunch, TheInterpreterInSystem32StartsAsFromAConsoleAndItsProgramsAreReached) {
    char system[MAX_PATH], wow64[MAX_PATH];
    ASSERT_TRUE(GetSystemDirectoryA(system, MAX_PATH) && GetSystemWow64DirectoryA(wow64, MAX_PATH));
    const std::string name = "\\varnel-launch-" + std::to_string(GetCurrentProcessId());
    const std::string standIn = system + name + " stand-in.exe", namesake = system + name + ".exe";
    ASSERT_TRUE(CopyFileA((BuildDir() + "\\fake_interpreter.exe").c_str(), standIn.c_str(), FALSE));
    ASSERT_TRUE(
        CopyFileA((system + std::string("\\..\\win.ini")).c_str(), namesake.c_str(), FALSE));
    for (const char* file : {" stand-in.exe", ".exe"}) {
        ASSERT_EQ(GetFileAttributesA((wow64 + name + file).c_str()), INVALID_FILE_ATTRIBUTES);
    }
    FakeRun run("native");
    SetEnvironmentVariableA("VARNEL_FAKE_BASE", run.Base().c_str());
    SetEnvironmentVariableW(L"VARNEL_WIDE", L"\x0414\x043E\x043C \x20AC");
    VarnelProcess varnel;
    ASSERT_TRUE(varnel.Start(standIn.c_str(), Window())) << Window();
    if (!varnel.WaitForWindow()) {
        for (HWND box : TopLevelWindows(varnel.info.dwProcessId, "#32770"))
            ADD_FAILURE() << "the launch failed: " << ControlText(GetDlgItem(box, 0xFFFF));
        FAIL() << "no window";
    }
    ASSERT_TRUE(varnel.Type("bits"));
    EXPECT_TRUE(varnel.PaneShows("64-bit\r\n"));
    std::string environment;
    for (const char* variable : {"PROCESSOR_ARCHITECTURE", "PROCESSOR_ARCHITEW6432", "ProgramFiles",
                                 "CommonProgramFiles"}) {
        char value[MAX_PATH];
        const DWORD length = GetEnvironmentVariableA(variable, value, MAX_PATH);
        environment += "env " + std::string(variable) +
                       (length ? "=" + std::string(value, length) : "") + "\r\n";
    }
    ASSERT_TRUE(
        varnel.Type("env PROCESSOR_ARCHITECTURE PROCESSOR_ARCHITEW6432 ProgramFiles "
                    "CommonProgramFiles VARNEL_WIDE"));
    environment += "env VARNEL_WIDE=\xD0\x94\xD0\xBE\xD0\xBC \xE2\x82\xAC\r\n";
    EXPECT_TRUE(WaitFor("the environment", [&] { return EndsWith(run.Events(), environment); }))
        << run.Events();

    ASSERT_TRUE(varnel.Type("run drip 600 100"));
    ASSERT_TRUE(varnel.PaneShows("drip 2\r\n"));
    PostMessageA(varnel.entry, WM_CHAR, 3, 0x002E0001);  // Ctrl+C
    EXPECT_TRUE(WaitFor("Ctrl+C", [&] { return run.EventsNamed("ctrl-c").size() == 1; }));
    EXPECT_TRUE(WaitFor("the end", [&] { return run.EventsNamed("child-exit").size() == 1; }));
    ASSERT_TRUE(varnel.Type("cls"));
    ASSERT_TRUE(varnel.Type("run ignore-ctrl-c ; drip 600 100"));
    ASSERT_TRUE(varnel.PaneShows("drip 2\r\n"));
    PostMessageA(varnel.entry, WM_KEYDOWN, VK_CANCEL, 0x01460001);  // Ctrl+Break
    EXPECT_TRUE(WaitFor("the end", [&] { return run.EventsNamed("child-exit").size() == 2; }));

    ASSERT_TRUE(varnel.Type("exit 5"));
    ASSERT_TRUE(varnel.PaneShows("[Press Enter to start it again.]\r\n"));
    PostMessageA(varnel.entry, WM_KEYDOWN, VK_RETURN, 0x001C0001);
    ASSERT_TRUE(WaitFor("a new start", [&] { return run.EventsNamed("start").size() == 2; }));
    ASSERT_TRUE(varnel.Type("cls"));
    ASSERT_TRUE(varnel.Type("bits"));
    EXPECT_TRUE(varnel.PaneShows("64-bit\r\n"));
    ASSERT_TRUE(varnel.Type("spawn ignore-ctrl-c ; drip 6000 100"));
    ASSERT_TRUE(varnel.PaneShows("drip 2\r\n"));
    HANDLE interpreter = EventProcess(run, "start", 1), program = EventProcess(run, "child", 2);
    ASSERT_TRUE(interpreter && program) << run.Events();
    varnel.Close();
    EXPECT_EQ(varnel.WaitForExit(), 0u);
    EXPECT_EQ(WaitForSingleObject(interpreter, 1000), WAIT_OBJECT_0) << "the interpreter runs on";
    EXPECT_EQ(WaitForSingleObject(program, 1000), WAIT_OBJECT_0) << "the program runs on";
    CloseHandle(interpreter);
    CloseHandle(program);
    EXPECT_TRUE(WaitFor("the files in system32 deleted",
                        [&] { return Deleted(standIn) && Deleted(namesake); }));
}

}  // namespace

// A terminal for the Windows program, as Windows Terminal and VS Code host it: the viewer runs
// in a pseudo-console (CreatePseudoConsole) whose output this program reads and whose input it
// writes. It answers the viewer's questions like a terminal, waits until the painting has
// settled, types Enter, and saves everything the pseudo-console wrote to a file for a test to
// decode.
//
// Usage: pseudo_console_host VIEWER.exe ANSWERS OUTPUT-FILE [COLUMNS ROWS]
//   ANSWERS: windows-terminal  as Windows Terminal 1.22: sixel in DA1, cells of 10 x 20 (16t)
//                              and the text area to match (14t)
//            inbox-conpty      as the pseudo-console of Windows 10 and 11 answers for VS Code
//                              or sshd: DA1 without sixel, nothing else
//            silent            nothing at all
// Prints "exit status N" for the viewer; exits 0 where the run went so far, else 1.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

namespace {

std::mutex outputLock;
std::string output;
DWORD lastOutputAt = 0;

std::string received()
{
    std::lock_guard<std::mutex> lock(outputLock);
    return output;
}

DWORD quietFor()
{
    std::lock_guard<std::mutex> lock(outputLock);
    return GetTickCount() - lastOutputAt;
}

void send(HANDLE input, const std::string& bytes)
{
    DWORD written = 0;
    WriteFile(input, bytes.data(), DWORD(bytes.size()), &written, nullptr);
}

// Wine takes a path that starts with '/' for one of the machine's own, on drive Z:.
std::string windowsPath(std::string path)
{
    if (!path.empty() && path[0] == '/')
        path = "Z:" + path;
    for (char& c : path)
        if (c == '/')
            c = '\\';
    return path;
}

bool waitFor(const char* what, DWORD limitMs)
{
    for (const DWORD start = GetTickCount(); GetTickCount() - start < limitMs; Sleep(5))
        if (received().find(what) != std::string::npos)
            return true;
    return false;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: pseudo_console_host VIEWER.exe ANSWERS OUTPUT [COLUMNS ROWS]"
                             "\n");
        return 1;
    }
    const std::string answers = argv[2];
    const SHORT columns = SHORT(argc > 5 ? std::atoi(argv[4]) : 4000);
    const SHORT rows = SHORT(argc > 5 ? std::atoi(argv[5]) : 40);

    HANDLE inputRead, inputWrite, outputRead, outputWrite;
    CreatePipe(&inputRead, &inputWrite, nullptr, 0);
    CreatePipe(&outputRead, &outputWrite, nullptr, 0);
    HPCON console;
    if (FAILED(CreatePseudoConsole(COORD{columns, rows}, inputRead, outputWrite, 0, &console))) {
        std::fprintf(stderr, "no pseudo-console\n");
        return 1;
    }
    std::thread reader([outputRead] {
        char buffer[1 << 16];
        DWORD count;
        while (ReadFile(outputRead, buffer, sizeof buffer, &count, nullptr) && count > 0) {
            std::lock_guard<std::mutex> lock(outputLock);
            output.append(buffer, count);
            lastOutputAt = GetTickCount();
        }
    });

    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    std::string attributes(size, '\0');
    STARTUPINFOEXA startup{};
    startup.StartupInfo.cb = sizeof startup;
    startup.lpAttributeList = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(&attributes[0]);
    InitializeProcThreadAttributeList(startup.lpAttributeList, 1, 0, &size);
    UpdateProcThreadAttribute(startup.lpAttributeList, 0, PROC_THREAD_ATTRIBUTE_PSEUDOCONSOLE,
                              console, sizeof console, nullptr, nullptr);
    // Standard input from the console, as a user's typing reaches a program in a terminal.
    // (Windows gives a program started in a pseudo-console its handles; wine 8 does not, and
    // cmd's redirection puts them in place.) Standard output stays elsewhere: the viewer
    // finds the console itself.
    std::string command = "cmd.exe /c \"" + windowsPath(argv[1]) + "\" <CONIN$";
    PROCESS_INFORMATION viewer{};
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE,
                        EXTENDED_STARTUPINFO_PRESENT, nullptr, nullptr, &startup.StartupInfo,
                        &viewer)) {
        std::fprintf(stderr, "cannot start %s: error %lu\n", command.c_str(), GetLastError());
        return 1;
    }

    // The questions end with DA1; a terminal answers them all, in order.
    const bool asked = waitFor("\x1b[c", 60000);
    if (asked && answers == "windows-terminal")
        send(inputWrite, "\x1b[4;" + std::to_string(rows * 20) + ";" +
                             std::to_string(columns * 10) + "t" + "\x1b[6;20;10t" +
                             "\x1b[?61;4;6;7;14;21;22;23;24;28;32;42c");
    else if (asked && answers == "inbox-conpty")
        send(inputWrite, "\x1b[?1;0c");

    // Painted once nothing has come for a while; then Enter.
    for (const DWORD start = GetTickCount(); GetTickCount() - start < 60000 && quietFor() < 2000;)
        Sleep(50);
    send(inputWrite, "\r");
    const bool ended = WaitForSingleObject(viewer.hProcess, 30000) == WAIT_OBJECT_0;
    DWORD status = 259;
    if (ended)
        GetExitCodeProcess(viewer.hProcess, &status);
    else
        TerminateProcess(viewer.hProcess, 1);
    Sleep(500);  // the console's last output

    ClosePseudoConsole(console);
    CloseHandle(outputWrite);
    reader.join();

    std::FILE* file = std::fopen(windowsPath(argv[3]).c_str(), "wb");
    const std::string all = received();
    if (!file || std::fwrite(all.data(), 1, all.size(), file) != all.size() || std::fclose(file)) {
        std::fprintf(stderr, "cannot write %s\n", argv[3]);
        return 1;
    }
    std::printf("asked %s, exit status %lu\n", asked ? "yes" : "no", status);
    return asked && ended ? 0 : 1;
}

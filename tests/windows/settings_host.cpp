// A small Windows host of tovarine.dll for the .reg interchange test: it loads the DLL as a
// server does and saves or loads two settings, answering the library's message boxes Yes (OK)
// itself. The text setting is a fixed one with letters outside ASCII, passed to the DLL in the
// ANSI code page as a Windows host's text is; a load prints it in UTF-8.
//
// Usage: settings_host save NAME   saves port 8080 and the title "café crème" under NAME
//        settings_host load NAME   loads NAME's settings and prints "port=N" and "title=TEXT"
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "tovarine.h"

namespace {

LRESULT CALLBACK OnCbt(int code, WPARAM wparam, LPARAM lparam) {
    const auto window = reinterpret_cast<HWND>(wparam);
    char name[16] = {};
    if (code == HCBT_ACTIVATE && GetClassNameA(window, name, sizeof name) > 0 &&
        std::strcmp(name, "#32770") == 0) {
        // Yes where the box has it, else OK.
        const int button = GetDlgItem(window, IDYES) != nullptr ? IDYES : IDOK;
        PostMessageA(window, WM_COMMAND, static_cast<WPARAM>(button), 0);
    }
    return CallNextHookEx(nullptr, code, wparam, lparam);
}

std::string Convert(const std::string &text, UINT from, UINT to) {
    const int wide = MultiByteToWideChar(from, 0, text.c_str(), -1, nullptr, 0);
    std::wstring units(static_cast<size_t>(wide), L'\0');
    MultiByteToWideChar(from, 0, text.c_str(), -1, units.data(), wide);
    const int bytes = WideCharToMultiByte(to, 0, units.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(to, 0, units.c_str(), -1, out.data(), bytes, nullptr, nullptr);
    out.resize(std::strlen(out.c_str()));
    return out;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 3 || (std::strcmp(argv[1], "save") != 0 && std::strcmp(argv[1], "load") != 0)) {
        std::fputs("usage: settings_host save|load NAME\n", stderr);
        return 2;
    }
    HMODULE dll = LoadLibraryA("tovarine.dll");
    const auto load = reinterpret_cast<decltype(&qy45AF)>(
        reinterpret_cast<void (*)()>(dll ? GetProcAddress(dll, "qy45AF") : nullptr));
    const auto save = reinterpret_cast<decltype(&qy70EE)>(
        reinterpret_cast<void (*)()>(dll ? GetProcAddress(dll, "qy70EE") : nullptr));
    if (load == nullptr || save == nullptr) {
        std::fputs("settings_host: cannot load tovarine.dll\n", stderr);
        return 1;
    }
    HHOOK hook = SetWindowsHookExA(WH_CBT, &OnCbt, nullptr, GetCurrentThreadId());

    int32_t port = 0;
    char title[256] = {};
    SettingDescriptor table[] = {
        {"port", 4, sizeof port, &port, nullptr},
        {"title", 1, sizeof title, title, nullptr},
        {nullptr, 0, 0, nullptr, nullptr},
    };
    int32_t rc;
    if (argv[1][0] == 's') {
        port = 8080;
        const std::string ansi = Convert("caf\xc3\xa9 cr\xc3\xa8me", CP_UTF8, CP_ACP);
        std::strncpy(title, ansi.c_str(), sizeof title - 1);
        rc = save(nullptr, argv[2], table);
    } else {
        rc = load(nullptr, argv[2], table);
        std::printf("port=%d\ntitle=%s\n", static_cast<int>(port),
                    Convert(title, CP_ACP, CP_UTF8).c_str());
    }
    if (hook != nullptr) UnhookWindowsHookEx(hook);
    FreeLibrary(dll);
    if (rc != 0) std::fprintf(stderr, "settings_host: error %d\n", static_cast<int>(rc));
    return rc == 0 ? 0 : 1;
}

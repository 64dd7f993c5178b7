// Several processes of tovarine.dll saving new instances of one settings name at once, on the
// real registry: every save must get an instance key of its own, holding its own values.
//
// Run without arguments, it makes the settings root and a first instance "Race 0", starts
// kProcesses copies of itself ("child P"), releases them together, waits for them, and checks
// the instance keys. Each child makes kSaves silent saves into new instances, every other one
// by name with a selector beyond every match (qy70EE) and through qy75BB. Exit status 0 when
// every save made a key of its own, whole.
//
// Run with "first", it races first saves instead: kFirstProcesses copies of itself ("first-child
// P") make, round after round, the first save of a settings name that has no instance yet, all
// released together in each round, silent with a selector beyond every match. Each round's
// saves must each be in an instance key of their own: none lost to another's.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "tovarine.h"

namespace {

constexpr int kProcesses = 2, kSaves = 100;
constexpr int kFirstProcesses = 4, kRounds = 16;
constexpr char kRoot[] = "SOFTWARE\\Zel Inc.\\Zel Quantivale Servers";
constexpr char kGo[] = "tovarine-new-instance-race-go";
constexpr char kReady[] = "tovarine-new-instance-race-ready";
constexpr char kFirstReady[] = "tovarine-first-save-race-ready";

// Round r of the first-save race: the settings name saved, the event that starts it, and what
// process p saves in it.
std::string FirstName(int round) { return std::string("First") + static_cast<char>('A' + round); }
std::string FirstGo(int round) { return "tovarine-first-save-race-go-" + std::to_string(round); }
int FirstCounter(int round, int process) { return 1 + round * 100 + process; }

// Starts `count` copies of this program as "ROLE P" for P = 0, 1, ...; false when one cannot
// be started.
bool StartChildren(const char *role, int count, std::vector<PROCESS_INFORMATION> *children) {
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    for (int p = 0; p < count; ++p) {
        std::string command = "\"" + std::string(self) + "\" " + role + " " + std::to_string(p);
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION child{};
        if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                            &startup, &child))
            return false;
        children->push_back(child);
    }
    return true;
}

// Waits for every child to end and lets go of it; the number of children that exited with
// anything but 0, each told on standard output under `program`'s name.
int EndChildren(const char *program, const std::vector<PROCESS_INFORMATION> &children) {
    int failures = 0;
    for (const PROCESS_INFORMATION &child : children) {
        DWORD status = 99;
        WaitForSingleObject(child.hProcess, INFINITE);
        GetExitCodeProcess(child.hProcess, &status);
        CloseHandle(child.hProcess);
        CloseHandle(child.hThread);
        if (status != 0) {
            std::printf("%s: a child exited with %lu\n", program, status);
            ++failures;
        }
    }
    return failures;
}

// A host's two settings, both holding the save's counter: as text and as a number.
struct Host {
    char text[32] = {};
    int32_t number = 0;
    SettingDescriptor table[3] = {{"Text", 1, sizeof text, text, nullptr},
                                  {"Number", 4, sizeof number, &number, nullptr},
                                  {nullptr, 0, 0, nullptr, nullptr}};
    explicit Host(int counter) : number(counter) {
        std::snprintf(text, sizeof text, "save %d", counter);
    }
};

int Child(int process) {
    // Ready once loaded; all go at once, so that their saves overlap.
    HANDLE go = OpenEventA(SYNCHRONIZE, FALSE, kGo);
    HANDLE ready = OpenSemaphoreA(SEMAPHORE_MODIFY_STATE, FALSE, kReady);
    if (go == nullptr || ready == nullptr || !ReleaseSemaphore(ready, 1, nullptr) ||
        WaitForSingleObject(go, 60000) != WAIT_OBJECT_0) {
        return 3;
    }
    CloseHandle(ready);
    CloseHandle(go);
    f9832144782(-1);  // silent, and beyond every match: each save is a new instance
    for (int s = 0; s < kSaves; ++s) {
        Host host(1 + process * 100 + s);
        int32_t rc = 0;
        if (s % 2 == 0) {
            rc = qy70EE(nullptr, "Race", host.table);
        } else {
            HKEY root = nullptr;
            if (RegOpenKeyExA(HKEY_CURRENT_USER, kRoot, 0, KEY_READ, &root) != ERROR_SUCCESS) {
                return 1;
            }
            char name[256], key_class[256];
            FILETIME written{};
            rc = qy75BB(root, nullptr, "Race", host.table, name, 256, key_class, 256, &written);
            RegCloseKey(root);
        }
        if (rc != 0) return 1;
    }
    return 0;
}

std::string Text(HKEY key, const char *name) {
    char data[64] = {};
    DWORD type = 0, bytes = sizeof data - 1;
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE *>(data), &bytes) !=
            ERROR_SUCCESS ||
        type != REG_SZ) {
        return "-";
    }
    return data;
}

int Parent() {
    HKEY root = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, kRoot, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &root,
                        nullptr) != ERROR_SUCCESS) {
        std::puts("new_instance_race: cannot make the settings root");
        return 2;
    }
    f9832144782(1);
    Host first(0);
    if (qy70EE(nullptr, "Race", first.table) != 0) return 2;  // "Race 0": the rest are new

    HANDLE go = CreateEventA(nullptr, TRUE, FALSE, kGo);
    HANDLE ready = CreateSemaphoreA(nullptr, 0, kProcesses, kReady);
    std::vector<PROCESS_INFORMATION> children;
    if (!StartChildren("child", kProcesses, &children)) {
        std::puts("new_instance_race: cannot start a child");
        return 2;
    }
    for (size_t p = 0; p < children.size(); ++p) {
        if (WaitForSingleObject(ready, 60000) != WAIT_OBJECT_0) break;
    }
    SetEvent(go);
    int failures = 0;
    failures += EndChildren("new_instance_race", children);
    CloseHandle(ready);
    CloseHandle(go);

    std::multiset<std::string> found, expected = {"0"};
    for (int p = 0; p < kProcesses; ++p) {
        for (int s = 0; s < kSaves; ++s) expected.insert(std::to_string(1 + p * 100 + s));
    }
    char name[256];
    DWORD keys = 0;
    for (DWORD chars = sizeof name; RegEnumKeyExA(root, keys, name, &chars, nullptr, nullptr,
                                                  nullptr, nullptr) == ERROR_SUCCESS;
         chars = sizeof name, ++keys) {
        HKEY instance = nullptr;
        if (RegOpenKeyExA(root, name, 0, KEY_READ, &instance) != ERROR_SUCCESS) continue;
        const std::string text = Text(instance, "Text"), number = Text(instance, "Number");
        RegCloseKey(instance);
        if (text != "save " + number) {
            std::printf("new_instance_race: %s holds Text=%s Number=%s\n", name, text.c_str(),
                        number.c_str());
            ++failures;
        }
        found.insert(number);
    }
    RegCloseKey(root);
    std::printf("new_instance_race: %d processes x %d saves: %lu instance keys (%u expected)\n",
                kProcesses, kSaves, static_cast<unsigned long>(keys),
                static_cast<unsigned>(expected.size()));
    if (found != expected) {
        std::puts("new_instance_race: saves were lost or made twice");
        ++failures;
    }
    return failures == 0 ? 0 : 1;
}

}  // namespace

// A process of the first-save race: in each round, once released, the first save of that
// round's settings name.
int FirstChild(int process) {
    HANDLE ready = OpenSemaphoreA(SEMAPHORE_MODIFY_STATE, FALSE, kFirstReady);
    if (ready == nullptr) return 3;
    f9832144782(kFirstProcesses + 1);  // silent, and beyond every match there can be
    for (int round = 0; round < kRounds; ++round) {
        HANDLE go = OpenEventA(SYNCHRONIZE, FALSE, FirstGo(round).c_str());
        if (go == nullptr || !ReleaseSemaphore(ready, 1, nullptr) ||
            WaitForSingleObject(go, 60000) != WAIT_OBJECT_0) {
            return 3;
        }
        CloseHandle(go);
        Host host(FirstCounter(round, process));
        if (qy70EE(nullptr, FirstName(round).c_str(), host.table) != 0) return 1;
    }
    CloseHandle(ready);
    return 0;
}

int FirstParent() {
    HKEY root = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, kRoot, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &root,
                        nullptr) != ERROR_SUCCESS) {
        std::puts("first_save_race: cannot make the settings root");
        return 2;
    }
    std::vector<HANDLE> go;
    for (int round = 0; round < kRounds; ++round)
        go.push_back(CreateEventA(nullptr, TRUE, FALSE, FirstGo(round).c_str()));
    HANDLE ready = CreateSemaphoreA(nullptr, 0, kFirstProcesses, kFirstReady);
    std::vector<PROCESS_INFORMATION> children;
    if (!StartChildren("first-child", kFirstProcesses, &children)) {
        std::puts("first_save_race: cannot start a child");
        return 2;
    }
    // Each round starts once every process waits for it.
    int failures = 0;
    for (int round = 0; round < kRounds && failures == 0; ++round) {
        for (int p = 0; p < kFirstProcesses; ++p) {
            if (WaitForSingleObject(ready, 60000) != WAIT_OBJECT_0) {
                std::printf("first_save_race: round %d: a child is not there\n", round);
                ++failures;
                break;
            }
        }
        SetEvent(go[round]);
    }
    for (int round = 0; round < kRounds; ++round) SetEvent(go[round]);  // none waits for ever
    failures += EndChildren("first_save_race", children);
    CloseHandle(ready);
    for (HANDLE event : go) CloseHandle(event);

    // Each round's instance keys: one per process, each holding that process's save, whole.
    int lost_rounds = 0;
    for (int round = 0; round < kRounds; ++round) {
        const std::string prefix = FirstName(round) + " ";
        std::multiset<std::string> found, expected;
        for (int p = 0; p < kFirstProcesses; ++p)
            expected.insert(std::to_string(FirstCounter(round, p)));
        char name[256];
        for (DWORD index = 0, chars = sizeof name;
             RegEnumKeyExA(root, index, name, &chars, nullptr, nullptr, nullptr, nullptr) ==
             ERROR_SUCCESS;
             chars = sizeof name, ++index) {
            if (std::string(name).rfind(prefix, 0) != 0) continue;
            HKEY instance = nullptr;
            if (RegOpenKeyExA(root, name, 0, KEY_READ, &instance) != ERROR_SUCCESS) continue;
            const std::string text = Text(instance, "Text"), number = Text(instance, "Number");
            RegCloseKey(instance);
            if (text != "save " + number) {
                std::printf("first_save_race: %s holds Text=%s Number=%s\n", name, text.c_str(),
                            number.c_str());
                ++failures;
            }
            found.insert(number);
        }
        if (found != expected) {
            std::printf("first_save_race: round %d: %zu instance keys for %d first saves\n", round,
                        found.size(), kFirstProcesses);
            ++lost_rounds;
        }
    }
    RegCloseKey(root);
    std::printf("first_save_race: %d processes x %d rounds of first saves: %d rounds lost saves\n",
                kFirstProcesses, kRounds, lost_rounds);
    return failures == 0 && lost_rounds == 0 ? 0 : 1;
}

int main(int argc, char **argv) {
    if (argc == 3 && std::string(argv[1]) == "child") return Child(std::atoi(argv[2]));
    if (argc == 3 && std::string(argv[1]) == "first-child") return FirstChild(std::atoi(argv[2]));
    if (argc == 2 && std::string(argv[1]) == "first") return FirstParent();
    return Parent();
}

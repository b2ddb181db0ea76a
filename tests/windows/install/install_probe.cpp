// Whether the codecs are installed, as any program finds them: by FourCC
// through msvfw32, with no ICInstall and no DLL beside this program.
// Usage: tarv_install_probe present|absent. Exit 0 when every check holds.
#include <windows.h>

#include <vfw.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

int g_failures = 0;

void Check(bool ok, const char* fcc, const char* what)
{
    if (!ok) {
        ++g_failures;
        std::printf("FAILED [%s]: %s\n", fcc, what);
    }
}

struct Codec {
    const char* name;
    DWORD fcc;
    const char* dll;
};

const Codec kCodecs[] = {
    {"TRVY", mmioFOURCC('T', 'R', 'V', 'Y'), "tarvy.dll"},
    {"TRVR", mmioFOURCC('T', 'R', 'V', 'R'), "tarvr.dll"},
};

// Whether the codec list that programs show (ICInfo walks the registry) has fcc.
bool Listed(DWORD fcc)
{
    ICINFO info{};
    for (DWORD i = 0; ICInfo(ICTYPE_VIDEO, i, &info); ++i) {
        if (info.fccHandler == fcc) {
            return true;
        }
    }
    return false;
}

std::string Lower(std::string text)
{
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return text;
}

// The folder a driver DLL was loaded from must be the system folder for this
// program's bitness: a 32-bit program on 64-bit Windows loads from SysWOW64.
bool FromSystemFolder(const char* dll)
{
    HMODULE module = GetModuleHandleA(dll);
    char path[MAX_PATH];
    if (!module || !GetModuleFileNameA(module, path, MAX_PATH)) {
        return false;
    }
    std::string folder = Lower(path);
    folder.erase(folder.find_last_of('\\'));
    char system[MAX_PATH];
    if (GetSystemDirectoryA(system, MAX_PATH) && folder == Lower(system)) {
        return true;
    }
    return sizeof(void*) == 4 && GetSystemWow64DirectoryA(system, MAX_PATH) &&
           folder == Lower(system);
}

void ExpectPresent(const Codec& codec)
{
    HIC hic = ICOpen(ICTYPE_VIDEO, codec.fcc, ICMODE_QUERY);
    Check(hic != nullptr, codec.name, "ICOpen finds the codec");
    if (!hic) {
        return;
    }
    ICINFO info{};
    info.dwSize = sizeof info;
    Check(ICGetInfo(hic, &info, sizeof info) == sizeof info, codec.name, "ICGetInfo answers");
    Check(info.fccType == ICTYPE_VIDEO && info.fccHandler == codec.fcc, codec.name,
          "ICGetInfo gives the codec's FourCC");
    Check(FromSystemFolder(codec.dll), codec.name, "the DLL comes from the system folder");
    ICClose(hic);
    Check(Listed(codec.fcc), codec.name, "ICInfo lists the codec");
}

void ExpectAbsent(const Codec& codec)
{
    HIC hic = ICOpen(ICTYPE_VIDEO, codec.fcc, ICMODE_QUERY);
    Check(hic == nullptr, codec.name, "ICOpen no longer finds the codec");
    if (hic) {
        ICClose(hic);
    }
    Check(!Listed(codec.fcc), codec.name, "ICInfo no longer lists the codec");
}

} // namespace

int main(int argc, char** argv)
{
    const bool present = argc == 2 && std::strcmp(argv[1], "present") == 0;
    if (!present && !(argc == 2 && std::strcmp(argv[1], "absent") == 0)) {
        std::printf("usage: tarv_install_probe present|absent\n");
        return 2;
    }
    for (const Codec& codec : kCodecs) {
        if (present) {
            ExpectPresent(codec);
        } else {
            ExpectAbsent(codec);
        }
    }
    std::printf("%s: %s, %d failed check(s)\n", argv[1], g_failures ? "FAILED" : "ok", g_failures);
    return g_failures ? 1 : 0;
}

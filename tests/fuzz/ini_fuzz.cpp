// Settings.ini reading and rewriting over arbitrary file bytes.
#include "settings/IniFile.h"
#include "settings/Unitpom.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string bytes(reinterpret_cast<const char*>(data), size);
    settings::IniFile ini(bytes);
    for (const char* section : {"General", "Files", "general", ""}) {
        for (const char* key : {"FTPServer", "Heslo", "PocetSouboru", "File0", ""}) {
            auto value = ini.Read(section, key);
            if (value && value->size() > settings::IniFile::kMaxValue)
                std::abort();
            int n;
            if (value)
                ParseSettingInteger(*value, n);
        }
    }
    // A written value reads back unchanged after the bytes are parsed again.
    ini.Write("General", "FuzzKey", "fuzz value");
    settings::IniFile again(ini.Bytes());
    auto back = again.Read("GENERAL", "fuzzkey");
    if (!back || *back != "fuzz value")
        std::abort();
    again.EraseSection("General");
    if (settings::IniFile(again.Bytes()).Read("General", "FuzzKey"))
        std::abort();
    return 0;
}

// End-to-end benchmark: one unattended send run of the real program
// (roderuv /auto, no display) against pyftpdlib on 127.0.0.1, next to the
// shell pipeline a user could write instead (zip -8 -q, gpg -e, curl -T) on
// the same data in the same run. Two data sets: about 200 MB of CSV-like
// text in 20 files, and 2,000 small files; a smaller CSV set shows whether
// peak memory grows with the data.
//
//   e2e_bench [MB of CSV data, default 200]
//
// Prints wall time, CPU time (user + system of the process and everything
// it waited for) and peak resident memory (the largest single process) of
// both. The program's wall time includes its fixed two-second pause after
// encryption; the target is program wall <= 1.1 x pipeline wall + 2 s.
#include "platform/Paths.h"
#include "settings/Unitpom.h"
#include "tests/support/GpgHome.h"
#include "tests/support/RealFtpServer.h"
#include "tests/support/Shell.h"
#include "tests/support/TempFolder.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using testsupport::ShellQuote;

struct Usage {
    double wall = 0, cpu = 0;
    long maxRssKb = 0;
    int status = -1;
};

// Runs a shell command and measures it with wait4 (its own and its waited
// children's CPU time; ru_maxrss is the largest process among them).
Usage Measure(const std::string& command) {
    Usage u;
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    int status = 0;
    rusage ru{};
    ::wait4(pid, &status, 0, &ru);
    u.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    u.cpu = ru.ru_utime.tv_sec + ru.ru_utime.tv_usec / 1e6 + ru.ru_stime.tv_sec +
            ru.ru_stime.tv_usec / 1e6;
    u.maxRssKb = ru.ru_maxrss;
    u.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return u;
}

// CSV-like rows: id, surname, birth date, diagnosis code, a measurement.
void WriteCsv(const std::string& path, std::size_t bytes, unsigned seed) {
    static const char* names[] = {"Novak",     "Svoboda", "Novotny", "Dvorak", "Cerny",
                                  "Prochazka", "Kucera",  "Vesely",  "Horak",  "Nemec"};
    std::mt19937 gen(seed);
    std::ofstream out(path, std::ios::binary);
    std::string buf;
    buf.reserve(1 << 20);
    std::size_t written = 0;
    long id = seed * 1000000L;
    buf += "id;prijmeni;narozen;dg;hodnota\r\n";
    while (written + buf.size() < bytes) {
        char line[128];
        const unsigned r = gen();
        const int n = std::snprintf(
            line, sizeof line, "%ld;%s;%04u-%02u-%02u;C%02u.%u;%u.%02u\r\n", ++id, names[r % 10],
            1930 + r % 80, 1 + (r >> 8) % 12, 1 + (r >> 12) % 28, (r >> 16) % 97, (r >> 24) % 10,
            static_cast<unsigned>(gen() % 100000), static_cast<unsigned>(gen() % 100));
        buf.append(line, n);
        if (buf.size() >= (1 << 20)) {
            out.write(buf.data(), static_cast<std::streamsize>(buf.size()));
            written += buf.size();
            buf.clear();
        }
    }
    out.write(buf.data(), static_cast<std::streamsize>(buf.size()));
}

struct DataSet {
    std::string name;
    std::string dir;
    std::vector<std::string> files;
    long long bytes = 0;
};

DataSet MakeCsvSet(const std::string& base, const std::string& name, int count, long long total) {
    DataSet d{name, base + "/" + name, {}, 0};
    std::filesystem::create_directories(d.dir);
    for (int i = 0; i < count; ++i) {
        const std::string path = d.dir + "/data" + std::to_string(i) + ".csv";
        WriteCsv(path, static_cast<std::size_t>(total / count), 1 + i);
        d.files.push_back(path);
        d.bytes += static_cast<long long>(std::filesystem::file_size(path));
    }
    return d;
}

DataSet MakeSmallSet(const std::string& base, int count) {
    DataSet d{"2000 small files", base + "/small", {}, 0};
    std::filesystem::create_directories(d.dir);
    for (int i = 0; i < count; ++i) {
        const std::string path = d.dir + "/f" + std::to_string(i) + ".csv";
        WriteCsv(path, 1000 + (i * 37) % 4000, 100 + i);
        d.files.push_back(path);
        d.bytes += static_cast<long long>(std::filesystem::file_size(path));
    }
    return d;
}

// Settings.ini of the application folder: the server, no journal, leave the
// data files alone, and the list of data files.
void WriteSettings(const std::string& app, const testsupport::RealFtpServer& server,
                   const DataSet& data) {
    platform::SetApplicationDirOverride(app);
    std::filesystem::remove(SettingsFilePath());
    WriteSettingString("General", "FTPServer", "127.0.0.1:" + std::to_string(server.Port()));
    WriteSettingString("General", "Login", server.User());
    WriteSettingString("General", "Heslo", EncodePassword(server.Password()));
    WriteSettingString("General", "Proxy", "0");
    WriteSettingInteger("UseLog", 0);
    WriteSettingInteger("FilesMoveTo", 0);
    WriteSettingInteger("PocetSouboru", static_cast<int>(data.files.size()));
    // The list in one go: thousands of single writes would rewrite the file
    // each time.
    std::string files = "[Files]\r\n";
    for (std::size_t i = 0; i < data.files.size(); ++i)
        files += "File" + std::to_string(i) + "=" + data.files[i] + "\r\n";
    std::ofstream(SettingsFilePath(), std::ios::binary | std::ios::app) << files;
    platform::SetApplicationDirOverride("");
}

void Print(const char* who, const Usage& u) {
    std::printf("  %-9s wall %7.2f s   cpu %7.2f s   peak RSS %7.1f MB   exit %d\n", who, u.wall,
                u.cpu, u.maxRssKb / 1024.0, u.status);
}

} // namespace

int main(int argc, char** argv) {
    const long long csvMb = argc > 1 ? std::atoll(argv[1]) : 200;
    const std::string program = RODERUV_PROGRAM;
    testsupport::TempFolder tmp;
    const std::string app = tmp / "app";
    const std::string temp = tmp / "temp";
    std::filesystem::create_directories(app);
    std::filesystem::create_directories(temp);
    testsupport::GpgHome gpg;
    gpg.SetUpApplicationFolder(app);
    std::filesystem::copy_file(program, app + "/roderuv");

    std::string why;
    auto server = testsupport::RealFtpServer::Start(testsupport::RealFtpKind::Pyftpdlib, &why);
    if (!server) {
        std::fprintf(stderr, "pyftpdlib cannot be started: %s\n", why.c_str());
        return 1;
    }

    std::printf("making data in %s ...\n", tmp.Path().c_str());
    std::fflush(stdout);
    std::vector<DataSet> sets;
    sets.push_back(MakeCsvSet(tmp.Path(), "csv", 20, csvMb * 1000000));
    sets.push_back(MakeSmallSet(tmp.Path(), 2000));
    sets.push_back(MakeCsvSet(tmp.Path(), "csv-small", 20, csvMb * 1000000 / 10));
    sets.back().name = "csv (1/10)";

    int failures = 0;
    for (const DataSet& data : sets) {
        std::printf("\n%s: %zu files, %.1f MB\n", data.name.c_str(), data.files.size(),
                    data.bytes / 1e6);
        // The program, as cron starts it.
        WriteSettings(app, *server, data);
        std::filesystem::remove_all(temp);
        std::filesystem::create_directories(temp);
        for (const auto& e : std::filesystem::directory_iterator(server->Root()))
            std::filesystem::remove(e.path());
        const Usage prog = Measure("env -u DISPLAY -u WAYLAND_DISPLAY TMPDIR=" + ShellQuote(temp) +
                                   " " + ShellQuote(app + "/roderuv") + " /auto >/dev/null 2>&1");
        long long sent = 0;
        for (const auto& e : std::filesystem::directory_iterator(server->Root()))
            sent += static_cast<long long>(e.file_size());
        // The pipeline on the same files.
        const std::string pz = tmp / "pipe.zip";
        std::filesystem::remove(pz);
        std::filesystem::remove(pz + ".gpg");
        const Usage pipe = Measure(
            "cd " + ShellQuote(data.dir) + " && zip -8 -q " + ShellQuote(pz) +
            " * && GNUPGHOME=" + ShellQuote(app + "/gnupg") +
            " gpg --batch --no-tty --yes --trust-model always -r 5E2B7C19 -e " + ShellQuote(pz) +
            " </dev/null && curl -s -T " + ShellQuote(pz + ".gpg") + " 'ftp://" + server->User() +
            ":" + server->Password() + "@127.0.0.1:" + std::to_string(server->Port()) + "/'");
        const long long piped =
            std::filesystem::exists(pz + ".gpg")
                ? static_cast<long long>(std::filesystem::file_size(pz + ".gpg"))
                : 0;
        Print("program", prog);
        std::printf("            sent %.1f MB\n", sent / 1e6);
        Print("pipeline", pipe);
        std::printf("            sent %.1f MB\n", piped / 1e6);
        const double limit = 1.1 * pipe.wall + 2.0;
        std::printf("  target: program wall %.2f s <= 1.1 x %.2f + 2 = %.2f s: %s\n", prog.wall,
                    pipe.wall, limit, prog.wall <= limit ? "met" : "MISSED");
        if (prog.status != 0 || sent == 0 || pipe.status != 0)
            ++failures;
    }
    return failures == 0 ? 0 : 1;
}

// Downloads or uploads one file with TKivFTP and prints its throughput and
// the CPU time the process spent, for side-by-side comparison with other
// FTP clients in tools/bench.sh.
//
//   ftpbench HOST PORT USER PASSWORD get|put REMOTE LOCAL [passive|active]

#include "ftp/KivFtp.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/resource.h>

namespace {

double CpuSeconds()
{
    rusage usage {};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 8) {
        std::fprintf(stderr, "usage: %s HOST PORT USER PASSWORD get|put REMOTE LOCAL [passive|active]\n", argv[0]);
        return 2;
    }
    const std::string direction = argv[5];
    const std::string remote = argv[6];
    const std::string local = argv[7];
    try {
        kivftp::TKivFTP ftp(nullptr);
        ftp.Host = argv[1];
        ftp.Port = std::atoi(argv[2]);
        ftp.UserID = argv[3];
        ftp.Password = argv[4];
        ftp.TimeOut = 10000;
        ftp.Passive = !(argc > 8 && std::string(argv[8]) == "active");
        ftp.Connect();
        std::int64_t bytes = 0;
        ftp.OnPacketRecvd = [&](platform::TComponent*) { bytes = ftp.BytesRecvd(); };
        ftp.OnPacketSent = [&](platform::TComponent*) { bytes = ftp.BytesSent(); };
        const double cpuBefore = CpuSeconds();
        const auto start = std::chrono::steady_clock::now();
        if (direction == "get")
            ftp.Download(remote, local);
        else
            ftp.Upload(local, remote);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const double cpu = CpuSeconds() - cpuBefore;
        ftp.Disconnect();
        std::printf("bytes=%lld seconds=%.3f MBps=%.1f cpu=%.3f\n", static_cast<long long>(bytes), seconds,
                    bytes / seconds / 1e6, cpu);
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "ftpbench: %s\n", e.what());
        return 1;
    }
}

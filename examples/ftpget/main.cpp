// ftpget: logs in to an FTP server, downloads one file in passive mode and
// logs out, showing the protocol dialogue on standard error.
//
//     ftpget HOST PORT USER PASSWORD REMOTE-FILE LOCAL-FILE

#include "ftp/KivFtp.h"

#include <cstdlib>
#include <iostream>
#include <string>

int main(int argc, char** argv)
{
    if (argc != 7) {
        std::cerr << "usage: ftpget HOST PORT USER PASSWORD REMOTE-FILE LOCAL-FILE\n";
        return 2;
    }
    kivftp::TKivFTP ftp(nullptr);
    ftp.Host = argv[1];
    ftp.Port = std::atoi(argv[2]);
    ftp.UserID = argv[3];
    ftp.Password = argv[4];
    ftp.TimeOut = 10000;
    ftp.Passive = true;
    ftp.ReportLevel = 1; // protocol traffic; PASS is shown without the password
    ftp.OnStatus = [](platform::TComponent*, const std::string& text) { std::cerr << text << (text.ends_with('\n') ? "" : "\n"); };
    try {
        ftp.Connect();
        ftp.Download(argv[5], argv[6]);
        ftp.Disconnect();
    } catch (const std::exception& e) {
        std::cerr << "ftpget: " << e.what() << (std::string(e.what()).ends_with('\n') ? "" : "\n");
        return 1;
    }
    return 0;
}

// A TCP port as typed into the settings (the proxy's port, the port after
// the FTP server's name): decimal digits only, from 1 to 65535.
#pragma once
#include <string>

// True, with Port set, when Text is such a port; false otherwise (Port is
// left alone). Leading zeros are allowed; signs, blanks and hexadecimal are not.
bool ParsePortNumber(const std::string& Text, int& Port);

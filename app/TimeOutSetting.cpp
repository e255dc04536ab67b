#include "app/TimeOutSetting.h"

#include "settings/Unitpom.h"

#include <climits>

int ReadTimeOutSeconds() {
    const int seconds = ReadSettingInteger("TimeOut", kDefaultTimeOutSeconds);
    return seconds < 0 ? kDefaultTimeOutSeconds : seconds;
}

int FtpTimeOutMs() {
    const int seconds = ReadTimeOutSeconds();
    return seconds > INT_MAX / 1000 ? INT_MAX : seconds * 1000;
}

int64_t GpgTimeOutMs() {
    const int seconds = ReadTimeOutSeconds();
    return int64_t{1000} * (seconds > 0 ? seconds : 10 * 60);
}

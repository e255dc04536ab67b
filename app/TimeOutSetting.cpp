#include "app/TimeOutSetting.h"

#include "settings/Unitpom.h"

int ReadTimeOutSeconds() {
    return ReadSettingInteger("TimeOut", kDefaultTimeOutSeconds);
}

int64_t GpgTimeOutMs() {
    const int seconds = ReadTimeOutSeconds();
    return int64_t{1000} * (seconds > 0 ? seconds : 10 * 60);
}

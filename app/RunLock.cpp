#include "app/RunLock.h"

#include "platform/Paths.h"

namespace {

std::string Reason(platform::LockOutcome outcome) {
    using platform::LockOutcome;
    switch (outcome) {
    case LockOutcome::IsLink:
        return "je to symbolický odkaz";
    case LockOutcome::NotAFile:
        return "není to obyčejný soubor";
    case LockOutcome::OtherOwner:
        return "patří jinému uživateli";
    case LockOutcome::CannotLock:
        return "systém souborů neumožňuje soubor zamknout";
    default:
        return "soubor nelze vytvořit ani otevřít pro zápis";
    }
}

} // namespace

platform::LockOutcome RunLock::TryAcquire() {
    return lock_.TryAcquire(Path());
}

std::string RunLock::Path() {
    return platform::ApplicationDir() + "roderuv.lock";
}

std::string RunLock::RefusedJournal(platform::LockOutcome outcome) {
    return "Odesílání zrušeno - zámek " + Path() + " nelze použít: " + Reason(outcome) + ".";
}

std::string RunLock::RefusedMessage(platform::LockOutcome outcome) {
    return "Odesílání dat nelze spustit: zámek " + Path() + " nelze použít (" + Reason(outcome) +
           "). \n\nBez něj by se mohla dvě odesílání překrýt. Opravte prosím soubor nebo "
           "právo zapisovat do adresáře aplikace.";
}

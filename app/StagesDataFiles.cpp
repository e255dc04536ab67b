// Post-send handling of the data files. Not built yet: reports failure and
// touches no file.
#include "app/Umain.h"

bool TForm1::DeleteDataFiles() {
    return false;
}

bool TForm1::MoveDataFiles() {
    return false;
}

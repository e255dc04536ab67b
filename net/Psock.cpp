// Work in progress: the full implementation follows.
#include "net/Psock.h"

#include "net/SocketEvents.h"

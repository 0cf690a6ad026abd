#include "tools/FakeWhoisServer.h"

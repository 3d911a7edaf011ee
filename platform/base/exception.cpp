#include "platform/base/exception.h"

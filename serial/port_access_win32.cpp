#include "serial/port_access.h"

namespace vantri {

const char* PortAccessDeniedText() {
    return "access denied";
}

// ERROR_PRIVILEGE_NOT_HELD: the driver lets only accounts with a privilege
// (administrators, as a rule) open the port.
std::string PortAccessAdvice(const std::string&) {
    return "the port's driver asks for a privilege your account lacks; run as an administrator "
           "or ask one for access";
}

}  // namespace vantri

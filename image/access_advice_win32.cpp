#include "image/access_advice.h"

namespace vantri {

std::string FileAccessAdvice(const std::filesystem::path&, const std::string&) {
    return "the file's owner or an administrator can give you read access";
}

}  // namespace vantri

// The form bodies the operations post. Fixed parts are the service's own texts; every value the
// user typed is form-encoded (EncodeFormValue) so that "&", "+", "=" and "%" arrive as typed.
#pragma once

#include "text/text.h"

namespace kv {

Text RegistrationFormBody(std::string_view account, std::string_view password, std::string_view captcha,
                          std::string_view stamp);
Text SignOnFormBody(std::string_view account, std::string_view password, std::string_view captcha,
                    std::string_view stamp);
Text OfflineDownloadFormBody(std::string_view link);

} // namespace kv

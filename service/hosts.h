// The service's addresses. The host names are build configuration; every address derived from
// them is a fixed text, built once.
#pragma once

#include "text/text.h"

namespace kv {

const Text& SsoHost();
const Text& CloudHost();
const Text& CreditsUrl();

// The percent-encoding of page addresses inside query strings and form bodies: ":" "/" "?" "="
// "&" "%" become %XX; everything else stays.
Text EncodeQueryValue(std::string_view value);

// The percent-encoding of a value the user typed: its UTF-8 bytes, everything but A-Z a-z 0-9
// - . _ ~ written as %XX, so the service reads back exactly what was typed.
Text EncodeFormValue(std::string_view text);

const Text& CloudLoginUrl();   // http://<cloud>/webdisk/index/login
const Text& RegisterPageUrl(); // http://<sso>/user/emailreg?...&next_action=<encoded login url>

const Text& CaptchaUrl();
const Text& RegistrationUrl();
const Text& SignOnPageUrl();
const Text& SignOnFormUrl();
const Text& CloudHomeUrl();
const Text& OfflineDownloadUrl();

} // namespace kv

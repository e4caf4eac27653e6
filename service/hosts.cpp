// Host constants and the addresses built from them.
#include "service/hosts.h"

#include "text/codepage.h"

namespace kv {
namespace {

constexpr char HexDigits[] = "0123456789ABCDEF";

void AppendEscape(Text& out, unsigned char byte) {
    out += '%';
    out += HexDigits[byte >> 4];
    out += HexDigits[byte & 0x0F];
}

} // namespace

const Text& SsoHost() {
    static const Text host = KV_SSO_HOST;
    return host;
}

const Text& CloudHost() {
    static const Text host = KV_CLOUD_HOST;
    return host;
}

const Text& CreditsUrl() {
    static const Text url = KV_CREDITS_URL;
    return url;
}

Text EncodeQueryValue(std::string_view value) {
    Text out;
    for (char c : value) {
        if (std::string_view(":/?=&%").find(c) != std::string_view::npos) {
            AppendEscape(out, static_cast<unsigned char>(c));
        } else {
            out += c;
        }
    }
    return out;
}

Text EncodeFormValue(std::string_view text) {
    Text out;
    for (char c : TextToUtf8(text)) {
        const bool unreserved = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                                c == '-' || c == '.' || c == '_' || c == '~';
        if (unreserved) {
            out += c;
        } else {
            AppendEscape(out, static_cast<unsigned char>(c));
        }
    }
    return out;
}

const Text& CloudLoginUrl() {
    static const Text url = "http://" + CloudHost() + "/webdisk/index/login";
    return url;
}

const Text& RegisterPageUrl() {
    static const Text url =
        "http://" + SsoHost() +
        "/user/emailreg?ver=2.0&vertical=true&email=&next_action=" + EncodeQueryValue(CloudLoginUrl());
    return url;
}

const Text& CaptchaUrl() {
    static const Text url = "http://" + SsoHost() + "/verify/emailreg?1426470650";
    return url;
}

const Text& RegistrationUrl() {
    static const Text url = "https://" + SsoHost() + "/user/emailRegSubmit";
    return url;
}

const Text& SignOnPageUrl() {
    static const Text url = "http://" + SsoHost() +
                            "/?ver=2.0&next_action=" + EncodeQueryValue(CloudLoginUrl()) + "&vertical=true";
    return url;
}

const Text& SignOnFormUrl() {
    static const Text url = "https://" + SsoHost() + "/user/loginsubmit";
    return url;
}

const Text& CloudHomeUrl() {
    static const Text url = "http://" + CloudHost() + "/webdisk/home/index";
    return url;
}

const Text& OfflineDownloadUrl() {
    static const Text url = "http://" + CloudHost() + "/webdisk/home/offdladd";
    return url;
}

} // namespace kv

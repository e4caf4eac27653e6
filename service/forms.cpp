// Form bodies, field by field in the order the service expects.
#include "service/forms.h"

#include "service/hosts.h"

namespace kv {

Text RegistrationFormBody(std::string_view account, std::string_view password, std::string_view captcha,
                          std::string_view stamp) {
    return JoinText({"email=", EncodeFormValue(account), "&password=", EncodeFormValue(password),
                     "&regcode=", EncodeFormValue(ToLowerText(captcha)),
                     "&from=&referrer=", EncodeQueryValue(CloudLoginUrl()),
                     "&random=0.19955328353724133&callback=iframeSubmit_", stamp});
}

Text SignOnFormBody(std::string_view account, std::string_view password, std::string_view captcha,
                    std::string_view stamp) {
    const Text encodedAccount = EncodeFormValue(account);
    return JoinText({"loginname=", encodedAccount, "&account=", encodedAccount,
                     "&password=", EncodeFormValue(password), "&autologin=true&memberme=true&referrer=",
                     EncodeQueryValue(RegisterPageUrl()), "&verify=", EncodeFormValue(ToLowerText(captcha)),
                     "&next_action=", EncodeQueryValue(EncodeQueryValue(CloudLoginUrl())),
                     "&encoder=&newLogin=&callback=iframeSubmit_", stamp});
}

Text OfflineDownloadFormBody(std::string_view link) {
    return "link=" + EncodeFormValue(link);
}

} // namespace kv

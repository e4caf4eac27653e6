// korvane-sim: serves the simulated service until SIGINT or SIGTERM, after printing the three lines
// that route a client (or curl) to it.
#include "sim/simulator.h"

#include <signal.h>

#include <cstdio>
#include <iostream>
#include <string>
#include <string_view>

namespace {

int Usage() {
    std::cerr << "usage: korvane-sim [--sso-http PORT] [--sso-https PORT] [--cloud-http PORT]\n"
                 "                   [--captcha-format png|jpeg] [--seed N]\n";
    return 2;
}

bool ParseNumber(std::string_view text, unsigned long long highest, unsigned long long& value) {
    if (text.empty() || text.size() > 20 || text.find_first_not_of("0123456789") != std::string_view::npos) {
        return false;
    }
    try {
        value = std::stoull(std::string(text));
    } catch (...) {
        return false;
    }
    return value <= highest;
}

} // namespace

int main(int argc, char** argv) {
    kv::sim::Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string_view flag = argv[i];
        if (i + 1 >= argc) {
            return Usage();
        }
        const std::string_view value = argv[++i];
        unsigned long long number = 0;
        if (flag == "--sso-http" || flag == "--sso-https" || flag == "--cloud-http") {
            if (!ParseNumber(value, 65535, number)) {
                return Usage();
            }
            int& port = flag == "--sso-http"    ? options.ssoHttpPort
                        : flag == "--sso-https" ? options.ssoHttpsPort
                                                : options.cloudHttpPort;
            port = static_cast<int>(number);
        } else if (flag == "--captcha-format") {
            if (value != "png" && value != "jpeg") {
                return Usage();
            }
            options.captchaFormat =
                value == "png" ? kv::sim::CaptchaFormat::Png : kv::sim::CaptchaFormat::Jpeg;
        } else if (flag == "--seed") {
            if (!ParseNumber(value, ~0ULL, number)) {
                return Usage();
            }
            options.seed = number;
        } else {
            return Usage();
        }
    }

    // Blocked before any thread starts, so only sigwait below receives them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    kv::sim::Simulator simulator;
    std::string error;
    const auto endpoints = simulator.Start(options, &error);
    if (!endpoints) {
        std::cerr << "korvane-sim: " << error << "\n";
        return 1;
    }
    std::cout << kv::sim::RoutingLines(*endpoints) << std::flush;

    int received = 0;
    sigwait(&stopSignals, &received);
    simulator.Stop();
    return 0;
}

#pragma once

// The workspace's settings: qorb.toml (or .qorb.toml) at its root.
//
//   cpu = "hc12"            # hc12, hcs12 or hc11
//   include = ["inc", "lib/common"]
//   main = "src/main.asm"   # assembled when a file only included is open
//   options = ["-case", "-mc"]
//
// Without the file, .a11, .s11 and .asm11 sources are 68HC11 code and every
// other source 68HC12 code.

#include <string>
#include <vector>

namespace qorbls {

struct Config {
    std::string cpu;                  // empty: by the file's extension
    std::vector<std::string> include; // absolute
    std::string main;                 // absolute, empty when none
    std::vector<std::string> options;
    std::string file;                  // the settings file read, empty when none
    std::vector<std::string> problems; // what was wrong in it
};

// Reads the settings of the workspace at `root`.
Config LoadConfig(const std::string& root);
// Parses settings text (for tests and LoadConfig).
Config ParseConfig(const std::string& text, const std::string& root);

} // namespace qorbls

// The configuration store: one INI file, read once. The file is the one named by the environment
// variable VIGIL_CONFIG, else "vigil.ini" beside the executable, else there is none and every key
// has no value. Key "section.key" is key in [section]; sections and keys ignore ASCII case; of
// two equal keys the first counts. Lines that are not understood are logged and skipped.
#pragma once

#include <string>

using String = std::string;

class OrbCfg {
  public:
    // The value of "section.key", empty when the key has none.
    static String getKey(const String& key);
    // 0; or the platform error number when the configuration file could not be read; or -1 when
    // it had lines that were skipped.
    static int getError();

    // Store control, not part of the lookup interface.
    // Forgets what was read; the next lookup finds and reads the file again.
    static void reload();
    // The file in use, empty when there is none.
    static std::wstring fileName();
};

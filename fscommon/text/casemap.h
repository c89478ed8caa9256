// Case mapping of one wide unit, used wherever the system folds case (comparisons, wildcards,
// index keys, object names). Windows uses the runtime's mapping; Linux a fixed Unicode mapping
// that does not depend on the process locale, so a cache written in one locale is read
// correctly in another.
#pragma once

wchar_t upperChar(wchar_t c);
wchar_t lowerChar(wchar_t c);

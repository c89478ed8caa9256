// The commands of vigil-query over a cache opened for reading (see queryoptions.h): results go
// to out, one-line reasons for failures to err; the result is the exit code.
#pragma once

#include <cstdio>

#include "queryoptions.h"

int runQuery(const QueryOptions& options, FILE* out, FILE* err);

// Reading the manifest's version and size texts, and the download percent.
#pragma once

#include <stdint.h>

// Reads "%d.%d.%d.%d" from text into version: each part a signed decimal
// (leading whitespace skipped, clamped to the 32-bit range); reading stops
// at the first mismatch and the parts after it are set to 0.
void parse_version(const char* text, int32_t version[4]);

// The text as atoi reads it (leading whitespace, optional sign, digits; no
// digits give 0), clamped to the signed 32-bit range.
int32_t parse_size(const char* text);

// True when version is above the baseline 0.0.0.0: the first part that
// differs from 0 is positive.
bool version_above_baseline(const int32_t version[4]);

// The whole-number percent of a download: received * 100 / size with both
// taken as unsigned 32-bit (so a negative size gives 0), capped at 100. A
// declared size of 0 gives 100 once the (empty) body is complete, else 0.
int32_t download_percent(uint32_t received, int32_t size, bool complete);

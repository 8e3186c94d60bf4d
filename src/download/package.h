// Package selection on the real system: library versions over the VERSION
// API, then the info file address and installer file name.
#pragma once

#include <cstddef>

#include "download/package_rules.h"

// The library's file version major.minor (from dwFileVersionMS); false when
// it has no version information or it cannot be read.
bool GetFileVersion(const char* path, unsigned* major, unsigned* minor);

// Adapter of GetFileVersion for ChoosePackagePrefix.
bool ReadLibraryVersion(const char* path, unsigned* major, unsigned* minor, void* context);

// The package prefix that the libraries of the system directory select.
const char* SystemPackagePrefix();

// Chooses the prefix from the system directory's libraries and appends it
// with the language to url (the download base address, becoming the info
// file address); fileName receives the installer file name. False, with
// nothing written, when the results would not fit their buffers.
bool ComposePackage(char* url, std::size_t urlSize, char* fileName, std::size_t fileNameSize,
                    const char* language);

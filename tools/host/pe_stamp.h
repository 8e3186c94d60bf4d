// Stamping a distribution ID trailer onto a copy of the program.
//
// An unsigned file simply ends in the 35-byte trailer. An Authenticode-signed
// file keeps its certificate table at its very end, and the signature covers
// everything but that table (and the checksum and the table's directory
// entry). The trailer then goes inside the table: the last certificate entry
// and the security directory grow by the trailer padded to 8 bytes (zeros in
// front), so the file still ends in the trailer and the signature still holds.
#pragma once

#include <string>
#include <vector>

using Bytes = std::vector<unsigned char>;

// Where the certificate table of a PE file lies (a file offset, not an RVA).
struct CertificateTable {
    std::size_t directoryEntry = 0;  // file offset of the security directory entry
    std::size_t offset = 0;          // start of the table; 0 when the file is not signed
    std::size_t size = 0;
    std::size_t lastEntry = 0;  // start of the last WIN_CERTIFICATE
};

// True for a file with the MZ and PE headers of a Windows executable.
bool IsWindowsExecutable(const Bytes& file);

// Reads the certificate table of a PE file. Returns an error text, or empty.
std::string FindCertificateTable(const Bytes& file, CertificateTable* table);

// Replaces any trailer the file has (signed or not) by a new one built from
// the two parts. Returns an error text, or empty on success.
std::string StampTrailer(Bytes* file, const char* firstPart, const char* secondPart);

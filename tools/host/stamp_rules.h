// Where a distribution ID trailer goes in a copy of the program, over bytes
// already read (no file I/O here, so the fuzzer reaches all of it).
//
// The program reads the last 35 bytes of its own file. An unsigned copy
// simply ends in them. In an Authenticode-signed copy the certificate table
// ends the file and lies outside the signed hash, but Windows with
// EnableCertPaddingCheck refuses any byte after the PKCS#7 blob in a
// certificate entry. So the trailer becomes the last 35 bytes of the
// PKCS#7 DER itself: the value (an OCTET STRING) of an unauthenticated
// attribute of the last signer, under an OID of our own, encoded last in
// the signer's attribute set. The filler in front of the trailer is sized so
// that the entry's length is a multiple of 8 and nothing follows the DER.
//
// Copies stamped before this rule carry the trailer after the DER inside
// the entry (zeros in front, padded to 8 bytes); they are read and replaced.
#pragma once

#include <cstdint>
#include <string>

#include "install/distribution_rules.h"
#include "pe_image.h"

// Our attribute's OID (a private arc: 1.3.6.1.4.1 is IANA's enterprise tree).
extern const char DISTRIBUTION_ID_OID[];

// The README's rules for a distributor's ID: visible ASCII, neither part
// empty, no "_" in the first part (the ID reads first_second).
std::string CheckIdParts(const std::string& first, const std::string& second);

// True when tail (35 bytes) is a trailer as the tool writes it.
bool IsToolTrailer(const unsigned char* tail);

// What a stamped copy is made of: the input's first copyLength bytes (with
// the security directory's size set to securitySize when signed), then tail.
struct StampPlan {
    std::uint64_t copyLength = 0;
    std::uint32_t securitySize = 0;
    Bytes tail;  // a new certificate table, or the bare trailer
    bool replacedStamp = false;  // an earlier stamp was found and dropped
};

// Plans the stamp of a file of that layout; lastBytes are its last 35 bytes
// (for an unsigned copy's earlier trailer). Returns an error text or empty.
std::string PlanStamp(const PeLayout& layout, const unsigned char* lastBytes,
                      const unsigned char trailer[TRAILER_SIZE], StampPlan* plan);

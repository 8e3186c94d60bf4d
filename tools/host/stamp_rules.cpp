#include "stamp_rules.h"

#include <openssl/asn1.h>
#include <openssl/objects.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cstring>
#include <memory>

const char DISTRIBUTION_ID_OID[] = "1.3.6.1.4.1.61529.1.1";

namespace {

constexpr std::uint16_t kRevision2 = 0x0200;
constexpr std::uint16_t kPkcsSignedData = 0x0002;
constexpr std::size_t kEntryHeader = 8;  // dwLength, wRevision, wCertificateType

std::uint32_t Get32(const unsigned char* b) { return b[0] | b[1] << 8 | b[2] << 16 | std::uint32_t(b[3]) << 24; }
void Put32(unsigned char* b, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[i] = static_cast<unsigned char>(v >> (8 * i));
}

struct Pkcs7Free {
    void operator()(PKCS7* p) const { PKCS7_free(p); }
};
struct ObjectFree {
    void operator()(ASN1_OBJECT* o) const { ASN1_OBJECT_free(o); }
};

Bytes Encode(PKCS7* p7) {
    const int length = i2d_PKCS7(p7, nullptr);
    if (length <= 0) return {};
    Bytes der(static_cast<std::size_t>(length));
    unsigned char* out = der.data();
    i2d_PKCS7(p7, &out);
    return der;
}

int AttributeLength(X509_ATTRIBUTE* attribute) { return i2d_X509_ATTRIBUTE(attribute, nullptr); }

// Removes our attributes from the signer; returns how many there were.
int RemoveOurAttributes(PKCS7_SIGNER_INFO* signer, const ASN1_OBJECT* ours) {
    int removed = 0;
    STACK_OF(X509_ATTRIBUTE)* attributes = signer->unauth_attr;
    for (int i = attributes ? sk_X509_ATTRIBUTE_num(attributes) - 1 : -1; i >= 0; --i) {
        X509_ATTRIBUTE* attribute = sk_X509_ATTRIBUTE_value(attributes, i);
        if (OBJ_cmp(X509_ATTRIBUTE_get0_object(attribute), ours) == 0) {
            X509_ATTRIBUTE_free(sk_X509_ATTRIBUTE_delete(attributes, i));
            ++removed;
        }
    }
    if (attributes && sk_X509_ATTRIBUTE_num(attributes) == 0) {
        sk_X509_ATTRIBUTE_free(attributes);
        signer->unauth_attr = nullptr;  // as the signing tool wrote it
    }
    return removed;
}

// Sets our attribute to filler zeros and the trailer; returns it (owned by the signer).
X509_ATTRIBUTE* SetOurAttribute(PKCS7_SIGNER_INFO* signer, const ASN1_OBJECT* ours, std::size_t filler,
                                const unsigned char* trailer) {
    RemoveOurAttributes(signer, ours);
    Bytes value(filler, 0);
    value.insert(value.end(), trailer, trailer + TRAILER_SIZE);
    X509_ATTRIBUTE* attribute = X509_ATTRIBUTE_create_by_OBJ(nullptr, ours, V_ASN1_OCTET_STRING, value.data(),
                                                             static_cast<int>(value.size()));
    if (!attribute) return nullptr;
    if (!signer->unauth_attr) signer->unauth_attr = sk_X509_ATTRIBUTE_new_null();
    if (!signer->unauth_attr || !sk_X509_ATTRIBUTE_push(signer->unauth_attr, attribute)) {
        X509_ATTRIBUTE_free(attribute);
        return nullptr;
    }
    return attribute;
}

bool EndsWith(const Bytes& der, const unsigned char* trailer) {
    return der.size() >= TRAILER_SIZE && std::memcmp(&der[der.size() - TRAILER_SIZE], trailer, TRAILER_SIZE) == 0;
}

// The new last certificate entry's PKCS#7 DER, or an error text.
std::string RestampSignature(const unsigned char* content, std::size_t length, const unsigned char* trailer,
                             Bytes* der, bool* replaced) {
    const unsigned char* p = content;
    std::unique_ptr<PKCS7, Pkcs7Free> p7(d2i_PKCS7(nullptr, &p, static_cast<long>(length)));
    if (!p7 || !PKCS7_type_is_signed(p7.get())) return "the certificate entry holds no PKCS#7 signature";
    const std::size_t used = static_cast<std::size_t>(p - content);
    // After the DER: nothing, the signing tool's zero padding, or a stamp of
    // the earlier form (zeros, then a trailer at the very end).
    const unsigned char* rest = content + used;
    std::size_t restLength = length - used;
    if (restLength >= TRAILER_SIZE && std::memcmp(rest + restLength - 4, TRAILER_MAGIC, 4) == 0) {
        restLength -= TRAILER_SIZE;
        *replaced = true;
    }
    if (!std::all_of(rest, rest + restLength, [](unsigned char c) { return c == 0; }))
        return "unexpected data after the signature in the certificate table";
    // Re-encoding must give back the signed bytes, or the signature would break.
    const Bytes original(content, content + used);
    if (Encode(p7.get()) != original) return "the signature is not in DER form; it cannot be re-encoded unchanged";

    STACK_OF(PKCS7_SIGNER_INFO)* signers = PKCS7_get_signer_info(p7.get());
    if (!signers || sk_PKCS7_SIGNER_INFO_num(signers) == 0) return "the signature has no signer";
    PKCS7_SIGNER_INFO* last = sk_PKCS7_SIGNER_INFO_value(signers, sk_PKCS7_SIGNER_INFO_num(signers) - 1);
    std::unique_ptr<ASN1_OBJECT, ObjectFree> ours(OBJ_txt2obj(DISTRIBUTION_ID_OID, 1));
    if (!ours) return "libcrypto cannot build the attribute's OID";
    if (RemoveOurAttributes(last, ours.get())) *replaced = true;

    // A SET OF is encoded in the order of its elements' encodings, and a
    // longer element sorts later: the filler must make ours the longest.
    // Each step below can move a DER length across a length-of-length
    // boundary, so iterate until both rules hold.
    std::size_t filler = 0;
    for (int step = 0; step < 64; ++step) {
        X509_ATTRIBUTE* attribute = SetOurAttribute(last, ours.get(), filler, trailer);
        if (!attribute) return "libcrypto cannot build the attribute";
        int longestOther = 0;
        for (int i = 0; i < sk_X509_ATTRIBUTE_num(last->unauth_attr); ++i) {
            X509_ATTRIBUTE* other = sk_X509_ATTRIBUTE_value(last->unauth_attr, i);
            if (other != attribute) longestOther = std::max(longestOther, AttributeLength(other));
        }
        const int own = AttributeLength(attribute);
        if (own <= longestOther) {
            filler += static_cast<std::size_t>(longestOther - own + 1);
            continue;
        }
        *der = Encode(p7.get());
        if (der->empty()) return "libcrypto cannot encode the signature";
        if (!EndsWith(*der, trailer)) return "the ID cannot be placed at the end of this signature";
        if ((kEntryHeader + der->size()) % 8 == 0) return "";
        filler += 8 - (kEntryHeader + der->size()) % 8;
    }
    return "no filler length aligns the certificate entry";
}

}  // namespace

std::string CheckIdParts(const std::string& first, const std::string& second) {
    if (first.empty() || second.empty()) return "neither part of the ID may be empty";
    if (first.size() > TRAILER_FIRST_PART_SIZE || second.size() > TRAILER_SECOND_PART_SIZE)
        return "the first part takes at most 11 characters, the second at most 20";
    for (const std::string* part : {&first, &second})
        for (unsigned char c : *part)
            if (c < 0x21 || c > 0x7E) return "an ID holds only visible ASCII characters (no blanks or control characters)";
    if (first.find('_') != std::string::npos) return "the first part may not hold '_' (the ID reads FIRST_SECOND)";
    return "";
}

bool IsToolTrailer(const unsigned char* tail) {
    if (std::memcmp(tail + TRAILER_SIZE - 4, TRAILER_MAGIC, 4) != 0) return false;
    // Each field: visible characters, then only NULs.
    for (auto [at, size] : {std::pair<std::size_t, std::size_t>{0, TRAILER_SECOND_PART_SIZE},
                            {TRAILER_SECOND_PART_SIZE, TRAILER_FIRST_PART_SIZE}}) {
        std::size_t n = 0;
        while (n < size && tail[at + n] >= 0x21 && tail[at + n] <= 0x7E) ++n;
        if (n == 0) return false;
        for (; n < size; ++n)
            if (tail[at + n] != 0) return false;
    }
    return true;
}

std::string PlanStamp(const PeLayout& layout, const unsigned char* lastBytes,
                      const unsigned char trailer[TRAILER_SIZE], StampPlan* plan) {
    *plan = StampPlan{};
    if (layout.certificateOffset == 0) {
        // Unsigned: an earlier trailer counts only past the image's data, so
        // a file whose last section merely ends in "DLID" keeps its bytes.
        plan->copyLength = layout.fileSize;
        if (layout.fileSize >= layout.imageEnd + TRAILER_SIZE && IsToolTrailer(lastBytes)) {
            plan->copyLength -= TRAILER_SIZE;
            plan->replacedStamp = true;
        }
        plan->tail.assign(trailer, trailer + TRAILER_SIZE);
        return "";
    }
    const Bytes& table = layout.certificateTable;
    const unsigned char* entry = &table[layout.lastEntry];
    const std::uint32_t length = Get32(entry);
    if ((entry[4] | entry[5] << 8) != kRevision2 || (entry[6] | entry[7] << 8) != kPkcsSignedData)
        return "the last certificate entry is not an Authenticode signature (WIN_CERT_TYPE_PKCS_SIGNED_DATA)";
    // Padding after the last entry, up to the table's end, must be zeros.
    if (!std::all_of(entry + length, table.data() + table.size(), [](unsigned char c) { return c == 0; }))
        return "unexpected data after the last certificate entry";
    Bytes der;
    const std::string error = RestampSignature(entry + kEntryHeader, length - kEntryHeader, trailer, &der,
                                               &plan->replacedStamp);
    if (!error.empty()) return error;
    plan->copyLength = layout.certificateOffset + layout.lastEntry;
    plan->tail.resize(kEntryHeader);
    Put32(plan->tail.data(), static_cast<std::uint32_t>(kEntryHeader + der.size()));
    plan->tail[4] = kRevision2 & 0xFF;
    plan->tail[5] = kRevision2 >> 8;
    plan->tail[6] = kPkcsSignedData;
    plan->tail[7] = 0;
    plan->tail.insert(plan->tail.end(), der.begin(), der.end());
    const std::uint64_t size = layout.lastEntry + plan->tail.size();
    if (size > MAX_CERTIFICATE_TABLE) return "the stamped certificate table would be too large";
    plan->securitySize = static_cast<std::uint32_t>(size);
    return "";
}

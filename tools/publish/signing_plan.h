#pragma once
// How a release or a re-signature signs "filelist.xml.sig": which key, the next release
// serial, the expiry and the channel, all settled before any work is done.
//
// The serial must grow with every signature a key makes, or launchers that have seen a
// higher one refuse the release. The root's own signature says where it stands, but it
// can go missing (a mirror that lost it, an --unsigned release in between); so each
// signature's serial is also kept beside the key, in "KEY.pem.serial" (the serial in
// decimal digits and a line end), and the next serial is one above the larger of the two.
#include "formats/release_signature.h"

#include <cstdint>
#include <filesystem>
#include <string>

namespace velm::publish {

// Days until a signature expires unless told otherwise: a release replayed by an
// attacker then stops being accepted within a month, while the operator's scheduled
// re-signature keeps the genuine one alive.
constexpr int kDefaultExpiresDays = 30;

struct SigningOptions {
    std::filesystem::path key;  // private key PEM; empty: unsigned
    int expires_days = kDefaultExpiresDays;  // 0: the signature never expires
    std::wstring channel = kDefaultReleaseChannel;
};

struct SigningPlan {
    bool sign = false;
    bool remove_stale = false;  // an unsigned release into a signed root: its signature goes
    std::string pem;
    ReleasePublicKey public_key{};
    std::filesystem::path serial_path;  // KEY.pem.serial
    ReleaseSignature signature;  // serial, expiry and channel set; the rest comes from signing
};

// "KEY.pem.serial" for "KEY.pem".
std::filesystem::path KeySerialPath(const std::filesystem::path& key);

// The serial recorded beside a key: 0 when there is no record; 0 with a reason in error
// (and false) when there is one that is not a serial.
bool ReadKeySerial(const std::filesystem::path& path, uint64_t& serial, std::string& error);
// Replaces the record: written beside, flushed, moved over, its folder flushed.
bool WriteKeySerial(const std::filesystem::path& path, uint64_t serial, std::string& error);

// Settles signing for the patch root at root. An empty key plans an unsigned release;
// into a signed root that is refused unless unsigned_release says so (the signature is
// then removed), since launchers that hold the key would refuse every update. Notes go
// to stderr with command as their prefix unless quiet. 1 on success, 0 with a reason.
int PlanSigning(const std::filesystem::path& root, const SigningOptions& options, bool unsigned_release,
                const char* command, bool quiet, SigningPlan& plan, std::string& error);

// Signs list (the decoded file list) as plan says and gives the signature file's bytes.
int SignList(SigningPlan& plan, const std::string& list, std::string& signature_file, std::string& error);

// The lines a signed run prints: the serial, and when the signature expires (or, on a
// line of its own whatever quiet says, that it never does).
void ReportSignature(const SigningPlan& plan, const char* command, bool quiet);

// A time as "YYYY-MM-DD HH:MM:SS UTC".
std::string UtcText(uint64_t seconds);

}  // namespace velm::publish

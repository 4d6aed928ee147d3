// Real PPDs of Debian's PPD packages relabelled as product models, and the
// old/new pairs that scripted edits of the kinds real updates make turn them
// into (tests/fixtures/real-ppds/samples.tsv lists them and their edits).
#pragma once

#include <string>
#include <vector>

// One edit step: SIDE:OP=ARG,ARG. Side "old", "new" or "both" edits PPD text;
// "queue" tells how the queue is set before the update.
struct PpdEdit {
  std::string side;
  std::string op;
  std::vector<std::string> args;
};

struct RealPpdSample {
  std::string name;       // queue name, and file name of the pair
  std::string package;    // a Debian package, or "product"
  std::string path;       // in the package's driver program, or in the distribution tree
  std::string modelName;  // the *ModelName value to relabel as; empty: kept
  std::vector<PpdEdit> edits;

  bool isProduct() const { return package == "product"; }
  bool shipsGzipped() const;
  std::string newFileName() const;  // NAME.ppd or NAME.ppd.gz
  std::vector<PpdEdit> queueEdits() const;
};

// The samples of a list; throws on a malformed line.
std::vector<RealPpdSample> readSampleList(const std::string& path);

struct PpdPair {
  std::string oldText;
  std::string newText;  // uncompressed, as the new PPD reads
};

// The old and new copies of a sample from its base text (the real PPD, or the
// product's new PPD) and, for a product PPD of an older release, its old text.
// Relabels, marks the product comment and the copy's side, applies the edits;
// keeps CR LF line ends where the base has them. Throws when an edit's target is missing.
PpdPair makePair(const RealPpdSample& sample, const std::string& base, const std::string& oldBase = "");

// The comment line that marks the old or the new copy of a pair.
std::string copyMark(const std::string& side);

namespace ppdtext {

// Rewrites *ModelName, *ShortNickName, *NickName, *Product and *Manufacturer.
std::string relabel(const std::string& ppd, const std::string& modelName);

// Puts the product comment "*% Mivo version: 1" and the *ModelName line right
// after the first line: the update looks for both in a queue PPD's first 30 lines.
std::string markAsProduct(const std::string& ppd);

// One PPD edit of a text with LF line ends.
std::string applyEdit(const std::string& ppd, const PpdEdit& edit);

std::string withCrLf(const std::string& ppd);
std::string withoutCr(const std::string& ppd);

}  // namespace ppdtext

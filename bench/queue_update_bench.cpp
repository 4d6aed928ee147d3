// Time of the queue update per queue, and candidate PPD files opened, on a
// sandboxed host with N product queues and a PPD install directory of M
// gzip-compressed candidate PPDs.
//
//   queue_update_bench [N,N,...] [M,M,...]     (default 100,500,1000 for both)
//
// For every M one host is built; each run is a real `setup -D 1` from the
// distribution tree. The time per queue is the run's time less that of a run
// with no queues, divided by N; the update loop's own time comes from the
// program's diagnostic line.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "sandbox/sandbox_host.h"

namespace {

namespace fs = std::filesystem;

const char* const kPdls[] = {"PS", "PCL", "PXL"};
const SandboxRunOptions kFromDist = {
    .env = {{"ZEBLPMODE", "CUPS"}}, .cwd = "/srv/mivo", .timeout = std::chrono::seconds(1800)};

std::vector<int> parseList(const char* text) {
  std::vector<int> values;
  std::istringstream in(text);
  for (std::string item; std::getline(in, item, ',');) values.push_back(std::stoi(item));
  return values;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string replaceAll(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

// The model names of the table, read from its data file.
std::vector<std::string> modelNames() {
  std::vector<std::string> names;
  std::istringstream rows(readFile(std::string(SOURCE_DIR) + "/data/models.tsv"));
  for (std::string row; std::getline(rows, row);)
    if (!row.empty() && row[0] != '#') names.push_back(row.substr(0, row.find('\t')));
  return names;
}

// A PPD of the template with its model and PDL replaced.
std::string ppdFor(const std::string& templateText, const std::string& model, const std::string& pdl) {
  return replaceAll(replaceAll(templateText, "Tamra Cendra 2100 PS", model + " " + pdl), "Tamra Cendra 2100", model);
}

struct Candidate {
  std::string model;
  std::string pdl;
};

// M (model, PDL) pairs that the distribution tree does not ship itself.
std::vector<Candidate> candidates(int m) {
  std::vector<Candidate> pairs;
  std::vector<std::string> names = modelNames();
  for (const char* pdl : kPdls) {
    for (const std::string& name : names) {
      if (name.rfind("Tamra Cendra 2100", 0) == 0 || name == "Tamra Lumo 4400" || name == "Tamra Brisk 1500") continue;
      if (static_cast<int>(pairs.size()) < m) pairs.push_back({name, pdl});
    }
  }
  return pairs;
}

// The candidate directory and the queue PPDs (one per queue, spread over the candidates).
void layOutTree(const std::string& root, const std::vector<Candidate>& pairs, int queues) {
  std::string newTemplate = readFile(std::string(SOURCE_DIR) + "/dist/ppd/tamra_cendra2100_ps.ppd");
  std::string oldTemplate = readFile(std::string(SOURCE_DIR) + "/tests/fixtures/ppd-old/tamra_cendra2100_ps.ppd");
  fs::create_directories(root + "/candidates");
  fs::create_directories(root + "/queues");
  for (size_t i = 0; i < pairs.size(); ++i) {
    std::ofstream(root + "/candidates/c" + std::to_string(1000 + i) + ".ppd")
        << ppdFor(newTemplate, pairs[i].model, pairs[i].pdl);
  }
  for (int q = 0; q < queues; ++q) {
    const Candidate& pair = pairs[(static_cast<size_t>(q) * 7919) % pairs.size()];
    std::ofstream(root + "/queues/Q" + std::to_string(10000 + q) + ".ppd") << ppdFor(oldTemplate, pair.model, pair.pdl);
  }
}

double runSeconds(SandboxHost& host, std::string& diagnostics) {
  auto started = std::chrono::steady_clock::now();
  SandboxResult result = host.run({"./bin/setup", "-D", "1"}, kFromDist);
  std::chrono::duration<double> took = std::chrono::steady_clock::now() - started;
  if (result.status != 0) throw std::runtime_error("setup failed: " + result.err);
  diagnostics = result.err;
  return took.count();
}

// "updateQueues: N queues in S s (placing P s); F candidate PPD files opened."
void parseDiagnostic(const std::string& err, double& loopSeconds, long& opened) {
  size_t at = err.find("updateQueues: ");
  loopSeconds = 0;
  opened = 0;
  if (at == std::string::npos) return;
  int queues = 0;
  std::sscanf(err.c_str() + at, "updateQueues: %d queues in %lf s", &queues, &loopSeconds);
  size_t semicolon = err.find("; ", at);
  if (semicolon != std::string::npos) opened = std::atol(err.c_str() + semicolon + 2);
}

void benchOneM(int m, const std::vector<int>& ns) {
  int maxN = 0;
  for (int n : ns) maxN = std::max(maxN, n);
  std::vector<Candidate> pairs = candidates(m);
  std::string machineTree = fs::temp_directory_path() / ("queue-bench-" + std::to_string(::getpid()));
  fs::remove_all(machineTree);
  layOutTree(machineTree, pairs, maxN);

  SandboxHost host;
  host.copyIn(DIST_DIR, "/srv/mivo");
  host.copyIn(machineTree + "/candidates", "/usr/share/ppd/orv");
  host.copyIn(machineTree + "/queues", "/srv/queues");
  fs::remove_all(machineTree);
  host.sh("gzip -9n /usr/share/ppd/orv/c*.ppd");
  host.startCups();

  std::string diagnostics;
  runSeconds(host, diagnostics);  // the installation itself
  double baseline = runSeconds(host, diagnostics);
  for (int n : ns) {
    host.sh("rm -f /etc/cups/ppd/* && cd /srv/queues && ls | sort | head -n " + std::to_string(n) +
            " | xargs cp -t /etc/cups/ppd");
    double seconds = runSeconds(host, diagnostics);
    double loopSeconds = 0;
    long opened = 0;
    parseDiagnostic(diagnostics, loopSeconds, opened);
    std::printf("%6d %6d %10.2f %14.2f %14.2f %14ld\n", m, n, seconds, 1000 * (seconds - baseline) / n,
                1000 * loopSeconds / n, opened);
    std::fflush(stdout);
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<int> ns = parseList(argc > 1 ? argv[1] : "100,500,1000");
  std::vector<int> ms = parseList(argc > 2 ? argv[2] : "100,500,1000");
  std::string why;
  if (!SandboxHost::available(&why)) {
    std::cerr << "no sandboxed host: " << why << "\n";
    return 1;
  }
  std::printf("%6s %6s %10s %14s %14s %14s\n", "M", "N", "run s", "ms/queue", "loop ms/queue", "files opened");
  for (int m : ms) benchOneM(m, ns);
  return 0;
}

// Checks that every outside program the tests, benchmarks and scripts start
// comes from a Debian package that scripts/bootstrap.sh installs, or from one
// those depend on (or from the base system every Debian machine has). A fresh
// machine has only what the bootstrap brings, so a program missing from it
// fails there however green the run is on a machine that kept an earlier
// install.
//
// The programs are found two ways: every shell script of the tree (and each
// COMMAND of the CMake files) is read for the words in command position, and
// the test helpers that start programs from C++ note each one in a log as
// they run (support/ProgramLog.h). Each program is looked up on the search
// path, its file in dpkg's database, and its package in the closure of the
// bootstrap's list over Depends and Pre-Depends. Everything here is offline.
//
//   check_test_programs --root SRC --build BUILD [--log FILE] [--bootstrap SCRIPT]
//                       [--without PACKAGE] [--verbose]
//
// --without drops a package from the bootstrap's list, to show what the check
// says when one is missing.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/ShellWords.h"

namespace fs = std::filesystem;
using framory::testing::IsShellBuiltin;
using framory::testing::ScanShell;
using framory::testing::ShellScan;

namespace {

std::string Output(const std::string& command) {
  std::string out;
  std::FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return out;
  char buffer[65536];
  std::size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, got);
  pclose(pipe);
  return out;
}

std::string Quote(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::string part;
  std::istringstream in(text);
  while (std::getline(in, part, separator)) parts.push_back(part);
  return parts;
}

std::string Trim(std::string text) {
  const auto first = text.find_first_not_of(" \t\n");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t\n") - first + 1);
}

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

bool IsShellScript(const fs::path& path) {
  const std::string ext = path.extension().string();
  if (ext == ".sh" || ext == ".bash") return true;
  std::ifstream in(path);
  std::string first;
  std::getline(in, first);
  return StartsWith(first, "#!") && (first.find("bash") != std::string::npos ||
                                     first.find("/sh") != std::string::npos);
}

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

struct Use {
  std::string where;  // file:line, or "started by a test"
};

std::string BareName(std::string name) {
  name = Trim(name);
  name = name.substr(0, name.find_first_of(" (:"));
  return name;
}

// Installed packages as dpkg knows them.
struct PackageFacts {
  bool base = false;  // Essential or Priority required: on every Debian machine
  std::vector<std::string> provides;
  std::string depends;  // Depends and Pre-Depends, comma-separated
};

std::map<std::string, PackageFacts> InstalledPackages() {
  std::map<std::string, PackageFacts> packages;
  const std::string listing =
      Output("dpkg-query -W -f='${Package}\\t${db:Status-Abbrev}\\t${Essential}\\t${Priority}\\t"
             "${Provides}\\t${Depends}, ${Pre-Depends}\\n' 2>/dev/null");
  for (const std::string& line : Split(listing, '\n')) {
    const std::vector<std::string> fields = Split(line, '\t');
    if (fields.size() < 6 || !StartsWith(fields[1], "ii")) continue;
    PackageFacts& facts = packages[fields[0]];
    facts.base = fields[2] == "yes" || fields[3] == "required";
    for (const std::string& provided : Split(fields[4], ','))
      facts.provides.push_back(BareName(provided));
    facts.depends = fields[5];
  }
  return packages;
}

// The bootstrap's list with everything it pulls in through Depends and
// Pre-Depends, plus the base system.
std::set<std::string> Closure(const std::vector<std::string>& listed,
                              const std::map<std::string, PackageFacts>& packages,
                              std::vector<std::string>* notInstalled) {
  std::map<std::string, std::vector<std::string>> providers;
  for (const auto& [name, facts] : packages) {
    for (const std::string& provided : facts.provides)
      if (!provided.empty()) providers[provided].push_back(name);
  }
  std::set<std::string> reached;
  std::deque<std::string> queue;
  auto reach = [&](const std::string& name) {
    if (packages.count(name) != 0 && reached.insert(name).second) queue.push_back(name);
    const auto found = providers.find(name);
    if (found == providers.end()) return;
    for (const std::string& provider : found->second)
      if (reached.insert(provider).second) queue.push_back(provider);
  };
  for (const std::string& name : listed) {
    if (packages.count(name) == 0 && providers.count(name) == 0) notInstalled->push_back(name);
    reach(name);
  }
  for (const auto& [name, facts] : packages)
    if (facts.base) reach(name);
  while (!queue.empty()) {
    const std::string name = queue.front();
    queue.pop_front();
    for (const std::string& clause : Split(packages.at(name).depends, ','))
      for (const std::string& alternative : Split(clause, '|')) {
        const std::string dependency = BareName(alternative);
        if (!dependency.empty()) reach(dependency);
      }
  }
  return reached;
}

// The packages that own `path` in dpkg's database. On a merged-/usr system
// dpkg may know the file under /bin rather than /usr/bin, or the other way.
std::vector<std::string> OwningPackages(const std::string& path) {
  std::vector<std::string> candidates = {path};
  for (const char* prefix : {"/usr/bin/", "/usr/sbin/", "/bin/", "/sbin/"}) {
    if (!StartsWith(path, prefix)) continue;
    const std::string rest = path.substr(std::string(prefix).size());
    const std::string other = StartsWith(prefix, "/usr") ? std::string(prefix).substr(4)
                                                          : std::string("/usr") + prefix;
    candidates.push_back(other + rest);
  }
  for (const std::string& candidate : candidates) {
    const std::string answer = Output("dpkg -S " + Quote(candidate) + " 2>/dev/null");
    for (const std::string& line : Split(answer, '\n')) {
      if (StartsWith(line, "diversion ")) continue;
      const std::size_t colon = line.find(": ");
      if (colon == std::string::npos) continue;
      std::vector<std::string> owners;
      for (const std::string& owner : Split(line.substr(0, colon), ','))
        owners.push_back(BareName(owner));
      return owners;
    }
  }
  return {};
}

// Every executable file of that name on the search path, in search order.
std::vector<std::string> FindOnPath(const std::string& name) {
  if (!name.empty() && name.front() == '/')
    return access(name.c_str(), X_OK) == 0 ? std::vector<std::string>{name}
                                            : std::vector<std::string>{};
  std::vector<std::string> found;
  std::string path = std::getenv("PATH") != nullptr ? std::getenv("PATH") : "/usr/bin:/bin";
  path += ":/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin";
  for (const std::string& folder : Split(path, ':')) {
    if (folder.empty()) continue;
    const std::string candidate = folder + "/" + name;
    struct stat facts {};
    if (stat(candidate.c_str(), &facts) == 0 && S_ISREG(facts.st_mode) &&
        access(candidate.c_str(), X_OK) == 0 &&
        std::find(found.begin(), found.end(), candidate) == found.end())
      found.push_back(candidate);
  }
  return found;
}

bool OnPathAndPackaged(const std::string& name) {
  for (const std::string& file : FindOnPath(name))
    if (!OwningPackages(file).empty()) return true;
  return false;
}

// An executable the build makes (a test's own program), found by its name.
bool BuiltHere(const fs::path& build, const std::string& name) {
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(build, error);
       it != fs::recursive_directory_iterator(); it.increment(error)) {
    if (error) break;
    if (it->is_regular_file(error) && it->path().filename() == name &&
        access(it->path().c_str(), X_OK) == 0)
      return true;
  }
  return false;
}

bool Skipped(const fs::path& path) {
  const std::string name = path.filename().string();
  return name == ".git" || StartsWith(name, "build") || name == ".cache";
}

}  // namespace

int main(int argc, char** argv) {
  fs::path root = ".";
  fs::path build = "build";
  std::string log;
  std::string bootstrap;
  std::set<std::string> without;
  bool verbose = false;
  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]) == "--verbose") verbose = true;
  }
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    if (option == "--verbose") {
      --i;
      continue;
    }
    if (option == "--root") root = argv[i + 1];
    else if (option == "--build") build = argv[i + 1];
    else if (option == "--log") log = argv[i + 1];
    else if (option == "--bootstrap") bootstrap = argv[i + 1];
    else if (option == "--without") without.insert(argv[i + 1]);
  }
  root = fs::canonical(root);
  build = fs::weakly_canonical(build);
  if (bootstrap.empty()) bootstrap = (root / "scripts/bootstrap.sh").string();

  std::vector<std::string> listed;
  for (const std::string& line : Split(Output("bash " + Quote(bootstrap) + " --list"), '\n'))
    if (!Trim(line).empty() && without.count(Trim(line)) == 0) listed.push_back(Trim(line));
  if (listed.empty()) {
    std::cerr << "bootstrap check: " << bootstrap << " --list named no package\n";
    return 1;
  }

  // Every program in command position of the tree's scripts and CMake files.
  // The scripts are read twice: first for the functions that run their
  // arguments as commands (defined in files the others source), then for
  // the commands themselves.
  std::map<std::string, Use> programs;
  std::set<std::string> functions;
  std::set<std::string> runners;
  std::vector<fs::path> scripts;
  const std::regex cmakeCommand(R"(\bCOMMAND\s+([A-Za-z0-9_.+-]+)(?=[\s)]))");
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(root, error);
       it != fs::recursive_directory_iterator(); it.increment(error)) {
    if (it->is_directory() && Skipped(it->path())) {
      it.disable_recursion_pending();
      continue;
    }
    if (!it->is_regular_file()) continue;
    const fs::path& path = it->path();
    const std::string relative = fs::relative(path, root).string();
    const std::string name = path.filename().string();
    if (name == "CMakeLists.txt" || path.extension() == ".cmake") {
      const std::string text = ReadAll(path);
      int line = 1;
      std::size_t counted = 0;
      for (std::sregex_iterator match(text.begin(), text.end(), cmakeCommand), end;
           match != end; ++match) {
        for (; counted < static_cast<std::size_t>(match->position(0)); ++counted)
          if (text[counted] == '\n') ++line;
        programs.emplace((*match)[1].str(), Use{relative + ":" + std::to_string(line)});
      }
      continue;
    }
    if (!IsShellScript(path)) continue;
    scripts.push_back(path);
    const ShellScan scan = ScanShell(ReadAll(path));
    runners.insert(scan.runners.begin(), scan.runners.end());
  }
  std::sort(scripts.begin(), scripts.end());
  for (const fs::path& path : scripts) {
    const ShellScan scan = ScanShell(ReadAll(path), runners);
    functions.insert(scan.functions.begin(), scan.functions.end());
    for (const auto& use : scan.commands)
      programs.emplace(use.name,
                       Use{fs::relative(path, root).string() + ":" + std::to_string(use.line)});
  }
  // The C++ tests and benchmarks: a string literal that is a command line (a
  // program's name, then an option or a quoted argument) or an argv that
  // starts with a program and an option. Benchmarks are not run by the
  // tests, so this is the only way their programs are seen; a name that is
  // not installed cannot be told from other words here, and the run-time
  // log covers the tests for those.
  const std::regex literal(
      R"re("([A-Za-z][A-Za-z0-9_.+-]*)(?: (?:-|')[^"]*"|",\s*"-))re");
  for (const char* folder : {"bench", "tests"}) {
    for (auto it = fs::recursive_directory_iterator(root / folder, error);
         it != fs::recursive_directory_iterator(); it.increment(error)) {
      const std::string ext = it->path().extension().string();
      if (!it->is_regular_file() || (ext != ".cpp" && ext != ".h" && ext != ".c")) continue;
      const std::string text = ReadAll(it->path());
      int line = 1;
      std::size_t counted = 0;
      for (std::sregex_iterator match(text.begin(), text.end(), literal), end; match != end;
           ++match) {
        for (; counted < static_cast<std::size_t>(match->position(0)); ++counted)
          if (text[counted] == '\n') ++line;
        const std::string name = (*match)[1].str();
        if (IsShellBuiltin(name) || programs.count(name) != 0) continue;
        if (!OnPathAndPackaged(name)) continue;
        programs.emplace(name, Use{fs::relative(it->path(), root).string() + ":" +
                                   std::to_string(line)});
      }
    }
  }
  std::size_t fromLog = 0;
  if (!log.empty()) {
    std::ifstream in(log);
    std::string line;
    while (std::getline(in, line)) {
      line = Trim(line);
      if (!line.empty() && programs.emplace(line, Use{"started by a test"}).second) ++fromLog;
    }
  }

  const std::map<std::string, PackageFacts> packages = InstalledPackages();
  std::vector<std::string> notInstalled;
  const std::set<std::string> closure = Closure(listed, packages, &notInstalled);

  std::vector<std::string> faults;
  for (const std::string& name : notInstalled)
    faults.push_back("the bootstrap lists " + name + ", which is not installed");
  std::size_t checked = 0;
  for (const auto& [name, use] : programs) {
    if (functions.count(name) != 0 || IsShellBuiltin(name)) continue;
    if (name.front() == '/' && (StartsWith(name, root.string() + "/") ||
                                StartsWith(name, build.string() + "/")))
      continue;  // the project's own programs
    const std::vector<std::string> found = FindOnPath(name);
    if (found.empty()) {
      // The project's own programs, also where a test ran a copy of one
      // from a folder of its own.
      if (BuiltHere(build, fs::path(name).filename().string())) continue;
      faults.push_back(name + " (" + use.where +
                       "): not installed; no package the bootstrap lists provides it");
      continue;
    }
    ++checked;
    // The first file on the path that a package owns: a file installed by
    // hand before it (a machine's own wrapper) is not what a fresh machine
    // has, but the packaged one behind it is.
    std::vector<std::string> owners;
    for (const std::string& file : found) {
      owners = OwningPackages(file);
      if (owners.empty()) owners = OwningPackages(fs::canonical(file, error).string());
      if (!owners.empty()) break;
    }
    if (owners.empty()) {
      faults.push_back(name + " (" + use.where + "): " + found.front() +
                       " belongs to no Debian package (installed by hand?)");
      continue;
    }
    bool covered = false;
    for (const std::string& owner : owners) covered = covered || closure.count(owner) != 0;
    if (verbose) std::cout << name << "\t" << owners.front() << "\t" << use.where << "\n";
    if (!covered) {
      std::string owned;
      for (const std::string& owner : owners) owned += (owned.empty() ? "" : ", ") + owner;
      faults.push_back(name + " (" + use.where + "): from package " + owned +
                       ", which the bootstrap does not install");
    }
  }

  for (const std::string& fault : faults) std::cerr << "bootstrap check: " << fault << "\n";
  if (!faults.empty()) {
    std::cerr << "bootstrap check: FAILED, " << faults.size()
              << " program(s) a fresh machine would not have; add their packages to "
                 "scripts/bootstrap.sh\n";
    return 1;
  }
  std::cout << "bootstrap check: " << checked << " programs started by the tests, benchmarks "
            << "and scripts (" << fromLog << " seen only at run time), each from a package "
            << "the bootstrap installs\n";
  return 0;
}

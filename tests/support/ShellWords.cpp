#include "support/ShellWords.h"

#include <cctype>

namespace framory::testing {
namespace {

const std::set<std::string_view>& Builtins() {
  static const std::set<std::string_view> words = {
      "!",        "[[",      "]]",      "{",        "}",       "case",    "do",
      "done",     "elif",    "else",    "esac",     "fi",      "for",     "function",
      "if",       "in",      "select",  "then",     "time",    "until",   "while",
      ".",        ":",       "[",       "alias",    "bg",      "bind",    "break",
      "builtin",  "caller",  "cd",      "command",  "compgen", "complete", "compopt",
      "continue", "declare", "dirs",    "disown",   "echo",    "enable",  "eval",
      "exec",     "exit",    "export",  "false",    "fc",      "fg",      "getopts",
      "hash",     "help",    "history", "jobs",     "kill",    "let",     "local",
      "logout",   "mapfile", "popd",    "printf",   "pushd",   "pwd",     "read",
      "readarray", "readonly", "return", "set",     "shift",   "shopt",   "source",
      "suspend",  "test",    "times",   "trap",     "true",    "type",    "typeset",
      "ulimit",   "umask",   "unalias", "unset",    "wait"};
  return words;
}

// Programs that start the word after their options as a command.
bool IsWrapper(std::string_view word) {
  return word == "env" || word == "timeout" || word == "nice" || word == "nohup" ||
         word == "setsid" || word == "stdbuf" || word == "xargs" || word == "sudo" ||
         word == "unshare" || word == "setpriv" || word == "chroot" || word == "flock";
}

// A wrapper's options that take the next word as their value.
bool OptionTakesValue(std::string_view wrapper, std::string_view option) {
  if (wrapper == "env") return option == "-u" || option == "-C" || option == "--unset" ||
                               option == "--chdir";
  if (wrapper == "timeout") return option == "-s" || option == "-k" || option == "--signal";
  if (wrapper == "nice") return option == "-n";
  if (wrapper == "sudo") return option == "-u" || option == "-g";
  if (wrapper == "flock") return option == "-w" || option == "-E";
  if (wrapper == "xargs")
    return option == "-n" || option == "-I" || option == "-P" || option == "-d" ||
           option == "-L" || option == "-s" || option == "-a" || option == "-E";
  return false;
}

bool IsAssignment(std::string_view word) {
  const std::size_t eq = word.find('=');
  if (eq == 0 || eq == std::string_view::npos) return false;
  if (!(std::isalpha(static_cast<unsigned char>(word[0])) || word[0] == '_')) return false;
  for (std::size_t i = 1; i < eq; ++i) {
    const unsigned char c = static_cast<unsigned char>(word[i]);
    if (!(std::isalnum(c) || c == '_' || (c == '+' && i + 1 == eq))) return false;
  }
  return true;
}

struct Word {
  std::string text;  // quotes removed
  bool expanded = false;  // held a $ or ` expansion
  bool empty = true;      // nothing was read
  bool quoted = false;    // held quotes
  std::string raw;        // as written
  int line = 0;
};

class Scanner {
 public:
  Scanner(std::string_view text, const std::set<std::string>& runners)
      : text_(text), runners_(runners) {}

  ShellScan Run() {
    ScanList('\0');
    return std::move(scan_);
  }

 private:
  enum class Mode { Command, Arguments, Words, CasePattern, Test };

  bool AtEnd() const { return pos_ >= text_.size(); }
  char Peek(std::size_t ahead = 0) const {
    return pos_ + ahead < text_.size() ? text_[pos_ + ahead] : '\0';
  }
  void Advance() {
    if (Peek() == '\n') ++line_;
    ++pos_;
  }

  static bool IsMeta(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == ';' || c == '&' || c == '|' || c == '<' ||
           c == '>' || c == '(' || c == ')';
  }

  void SkipToLineEnd() {
    while (!AtEnd() && Peek() != '\n') Advance();
  }

  // After a line break: skip the bodies of the here-documents the line opened.
  void SkipHereDocuments() {
    for (const auto& [delimiter, stripTabs] : hereDocuments_) {
      while (!AtEnd()) {
        const std::size_t start = pos_;
        SkipToLineEnd();
        std::string_view lineText = text_.substr(start, pos_ - start);
        if (stripTabs) {
          while (!lineText.empty() && lineText.front() == '\t') lineText.remove_prefix(1);
        }
        if (!AtEnd()) Advance();
        if (lineText == delimiter) break;
      }
    }
    hereDocuments_.clear();
  }

  // `$(...)`, `` `...` ``: the commands inside are scanned; what they print
  // is only a word here.
  void ScanSubstitution(char end) {
    const Mode saved = mode_;
    const std::string savedCommand = lastCommand_;
    const int savedDepth = parenDepth_;
    mode_ = Mode::Command;
    parenDepth_ = 0;
    ScanList(end);
    if (!AtEnd()) Advance();
    mode_ = saved;
    lastCommand_ = savedCommand;
    parenDepth_ = savedDepth;
  }

  // `$((...))`, `((...))`: arithmetic, no commands.
  void SkipArithmetic() {
    int depth = 0;
    while (!AtEnd()) {
      const char c = Peek();
      if (c == '(') ++depth;
      if (c == ')') {
        if (depth == 0 && Peek(1) == ')') {
          Advance();
          Advance();
          return;
        }
        --depth;
      }
      Advance();
    }
  }

  void ReadDollar(Word* word) {
    word->expanded = true;
    Advance();  // $
    if (Peek() == '(' && Peek(1) == '(') {
      Advance();
      Advance();
      SkipArithmetic();
    } else if (Peek() == '(') {
      Advance();
      ScanSubstitution(')');
    } else if (Peek() == '{') {
      int depth = 0;
      while (!AtEnd()) {
        const char c = Peek();
        Advance();
        if (c == '{') ++depth;
        if (c == '}' && --depth == 0) break;
      }
    } else {
      while (!AtEnd() && (std::isalnum(static_cast<unsigned char>(Peek())) || Peek() == '_'))
        Advance();
      if (!AtEnd() && std::string_view("@*#?$!-0123456789").find(Peek()) != std::string_view::npos &&
          text_[pos_ - 1] == '$')
        Advance();
    }
  }

  Word ReadWord() {
    Word word;
    word.line = line_;
    const std::size_t start = pos_;
    while (!AtEnd() && !IsMeta(Peek())) {
      word.empty = false;
      const char c = Peek();
      if (c == '\\') {
        Advance();
        if (!AtEnd()) {
          if (Peek() != '\n') word.text += Peek();
          Advance();
        }
      } else if (c == '\'') {
        word.quoted = true;
        Advance();
        while (!AtEnd() && Peek() != '\'') {
          word.text += Peek();
          Advance();
        }
        if (!AtEnd()) Advance();
      } else if (c == '"') {
        word.quoted = true;
        Advance();
        while (!AtEnd() && Peek() != '"') {
          if (Peek() == '\\' && pos_ + 1 < text_.size()) {
            Advance();
            word.text += Peek();
            Advance();
          } else if (Peek() == '$') {
            ReadDollar(&word);
          } else if (Peek() == '`') {
            word.expanded = true;
            Advance();
            ScanSubstitution('`');
          } else {
            word.text += Peek();
            Advance();
          }
        }
        if (!AtEnd()) Advance();
      } else if (c == '$') {
        ReadDollar(&word);
      } else if (c == '`') {
        word.expanded = true;
        Advance();
        ScanSubstitution('`');
      } else {
        word.text += c;
        Advance();
      }
    }
    word.raw = std::string(text_.substr(start, pos_ - start));
    return word;
  }

  // `NAME=( ... )`: the array's words, comments and line breaks.
  void SkipArray() {
    Advance();  // (
    while (!AtEnd()) {
      const char c = Peek();
      if (c == ')') {
        Advance();
        return;
      }
      if (c == '#') {
        SkipToLineEnd();
      } else if (IsMeta(c)) {
        Advance();
      } else {
        ReadWord();
      }
    }
  }

  void Redirection() {
    // `<<` and `<<-` open a here-document; `<<<` takes one word.
    bool hereDocument = false;
    bool stripTabs = false;
    if (Peek() == '<' && Peek(1) == '<' && Peek(2) != '<') {
      hereDocument = true;
      Advance();
      Advance();
      if (Peek() == '-') {
        stripTabs = true;
        Advance();
      }
    } else {
      while (!AtEnd() && (Peek() == '<' || Peek() == '>' || Peek() == '&' || Peek() == '|'))
        Advance();
    }
    while (Peek() == ' ' || Peek() == '\t') Advance();
    if (Peek() == '(') return;  // process substitution: scanned as a subshell
    const Word target = ReadWord();
    if (hereDocument) hereDocuments_.push_back({target.text, stripTabs});
  }

  void CommandWord(const Word& word) {
    const std::string& name = word.text;
    if (name == "case") {
      mode_ = Mode::Words;
      caseOpening_ = true;
      return;
    }
    if (name == "for" || name == "select") {
      mode_ = Mode::Words;
      return;
    }
    if (name == "[[") {
      mode_ = Mode::Test;
      return;
    }
    if (name == "function") {
      while (Peek() == ' ' || Peek() == '\t') Advance();
      Word function = ReadWord();
      scan_.functions.insert(function.text);
      definedFunction_ = function.text;
      if (Peek() == '(' && Peek(1) == ')') {
        Advance();
        Advance();
      }
      return;
    }
    if (name == "{") {
      if (!definedFunction_.empty()) functionBodies_.push_back({definedFunction_, braceDepth_});
      definedFunction_.clear();
      ++braceDepth_;
      return;
    }
    if (name == "}" && braceDepth_ > 0) {
      --braceDepth_;
      if (!functionBodies_.empty() && functionBodies_.back().second == braceDepth_)
        functionBodies_.pop_back();
    }
    if (name == "fi" || name == "done" || name == "esac" || name == "}") {
      if (name == "esac" && caseDepth_ > 0) --caseDepth_;
      mode_ = Mode::Arguments;
      return;
    }
    if (name == "command") {
      wrapper_ = name;  // `command -v x` only looks x up
      return;
    }
    if (name == "exec" || name == "builtin" || name == "time" ||
        name == "!" || name == "then" || name == "do" || name == "else" ||
        name == "elif" || name == "if" || name == "while" || name == "until") {
      return;  // the next word is a command
    }
    // `name() {`: a function definition.
    std::size_t look = pos_;
    while (look < text_.size() && (text_[look] == ' ' || text_[look] == '\t')) ++look;
    if (!word.expanded && look + 1 < text_.size() && text_[look] == '(' &&
        text_[look + 1] == ')') {
      scan_.functions.insert(name);
      definedFunction_ = name;
      pos_ = look + 2;
      return;
    }
    // A function that runs its arguments (`"$@"`) as a command.
    const std::string_view raw = word.raw;
    if (word.expanded && !functionBodies_.empty() &&
        (raw == "\"$@\"" || raw == "$@" || raw.substr(0, 4) == "\"${@" || raw.substr(0, 3) == "${@"))
      scan_.runners.insert(functionBodies_.back().first);
    mode_ = Mode::Arguments;
    lastCommand_ = name;
    if (!word.expanded && (runners_.count(name) != 0 || scan_.runners.count(name) != 0)) {
      mode_ = Mode::Command;
      wrapper_ = name;
      runnerCall_ = true;
      return;
    }
    if (IsShellBuiltin(name)) return;
    if (word.expanded || name.empty()) return;
    if (name.find('/') != std::string::npos && name.front() != '/') return;
    scan_.commands.push_back({name, word.line});
    if (IsWrapper(name)) {
      mode_ = Mode::Command;
      wrapper_ = name;
    }
  }

  void ScanList(char end) {
    while (!AtEnd()) {
      const char c = Peek();
      if (end != '\0' && c == end && !(end == ')' && parenDepth_ > 0)) return;
      if (c == ' ' || c == '\t') {
        Advance();
        continue;
      }
      if (c == '\\' && Peek(1) == '\n') {
        Advance();
        Advance();
        continue;
      }
      if (c == '#') {
        SkipToLineEnd();
        continue;
      }
      if (c == '\n') {
        Advance();
        SkipHereDocuments();
        if (mode_ != Mode::CasePattern && mode_ != Mode::Test) mode_ = Mode::Command;
        wrapper_.clear();
        wrapperValue_ = false;
        runnerCall_ = false;
        continue;
      }
      if (c == ';') {
        Advance();
        if (Peek() == ';' || Peek() == '&') {
          while (Peek() == ';' || Peek() == '&') Advance();
          mode_ = Mode::CasePattern;
        } else if (mode_ != Mode::Test) {
          mode_ = Mode::Command;
        }
        wrapper_.clear();
        wrapperValue_ = false;
        runnerCall_ = false;
        continue;
      }
      if (c == '&' || c == '|') {
        if (c == '&' && Peek(1) == '>') {
          Redirection();
          continue;
        }
        Advance();
        if (Peek() == c || Peek() == '&') Advance();
        if (mode_ == Mode::CasePattern) continue;  // `a|b)` in a pattern
        if (mode_ != Mode::Test) mode_ = Mode::Command;
        wrapper_.clear();
        wrapperValue_ = false;
        runnerCall_ = false;
        continue;
      }
      if (c == '<' || c == '>') {
        if (Peek(1) == '(') {  // process substitution
          Advance();
          Advance();
          ScanSubstitution(')');
          continue;
        }
        Redirection();
        continue;
      }
      if ((c == '(' || c == ')') && mode_ == Mode::Test) {
        Advance();  // grouping inside [[ ]]
        continue;
      }
      if (c == '(') {
        if (Peek(1) == '(' && mode_ != Mode::CasePattern) {
          Advance();
          Advance();
          SkipArithmetic();
          mode_ = Mode::Arguments;
          continue;
        }
        Advance();
        if (mode_ == Mode::CasePattern) continue;  // `(pattern)`
        ++parenDepth_;
        mode_ = Mode::Command;
        continue;
      }
      if (c == ')') {
        Advance();
        if (mode_ == Mode::CasePattern) {
          mode_ = Mode::Command;
        } else {
          if (parenDepth_ > 0) --parenDepth_;
          mode_ = Mode::Arguments;
        }
        continue;
      }
      // A word.
      if (std::isdigit(static_cast<unsigned char>(c))) {
        // `2>file`, `3<&0`: a redirection with its descriptor.
        std::size_t look = pos_;
        while (look < text_.size() && std::isdigit(static_cast<unsigned char>(text_[look])))
          ++look;
        if (look < text_.size() && (text_[look] == '>' || text_[look] == '<')) {
          while (pos_ < look) Advance();
          Redirection();
          continue;
        }
      }
      const Word word = ReadWord();
      if (word.empty) {  // a lone character ReadWord stops at
        Advance();
        continue;
      }
      switch (mode_) {
        case Mode::Command:
          if (IsAssignment(word.text) && !word.text.empty() && word.text.back() == '=' &&
              Peek() == '(') {
            SkipArray();
            break;
          }
          if (wrapperValue_) {
            wrapperValue_ = false;
            break;  // the value of a wrapper's option
          }
          if (wrapper_ == "command" && (word.text == "-v" || word.text == "-V")) {
            wrapper_.clear();
            mode_ = Mode::Arguments;
            break;
          }
          if (!wrapper_.empty() && !word.text.empty() && word.text.front() == '-') {
            wrapperValue_ = OptionTakesValue(wrapper_, word.text);
            break;  // a wrapper's option
          }
          if (IsAssignment(word.text)) break;
          if (!wrapper_.empty() && !word.text.empty() &&
              std::isdigit(static_cast<unsigned char>(word.text.front()))) {
            break;  // a duration or a priority
          }
          if (runnerCall_ && (word.quoted || word.expanded)) {
            break;  // a runner function's own arguments: a description, a time
          }
          wrapper_.clear();
          runnerCall_ = false;
          CommandWord(word);
          break;
        case Mode::Arguments:
          if ((lastCommand_ == "bash" || lastCommand_ == "sh") && previousArgument_ == "-c") {
            const ShellScan inner = ScanShell(word.text, runners_);
            for (const ShellCommandUse& use : inner.commands)
              scan_.commands.push_back({use.name, word.line + use.line - 1});
            scan_.functions.insert(inner.functions.begin(), inner.functions.end());
          }
          break;
        case Mode::Words:
          if (caseOpening_ && word.text == "in") {
            caseOpening_ = false;
            ++caseDepth_;
            mode_ = Mode::CasePattern;
          }
          break;
        case Mode::CasePattern:
          if (word.text == "esac") {
            if (caseDepth_ > 0) --caseDepth_;
            mode_ = Mode::Arguments;
          }
          break;
        case Mode::Test:
          if (word.text == "]]") mode_ = Mode::Arguments;
          break;
      }
      previousArgument_ = word.text;
    }
  }

  std::string_view text_;
  std::size_t pos_ = 0;
  int line_ = 1;
  Mode mode_ = Mode::Command;
  int parenDepth_ = 0;
  int caseDepth_ = 0;
  bool caseOpening_ = false;
  std::string wrapper_;
  bool wrapperValue_ = false;
  bool runnerCall_ = false;
  const std::set<std::string>& runners_;
  std::string definedFunction_;
  int braceDepth_ = 0;
  std::vector<std::pair<std::string, int>> functionBodies_;  // name, depth of its `{`
  std::string lastCommand_;
  std::string previousArgument_;
  std::vector<std::pair<std::string, bool>> hereDocuments_;
  ShellScan scan_;
};

}  // namespace

bool IsShellBuiltin(std::string_view word) { return Builtins().count(word) > 0; }

ShellScan ScanShell(std::string_view text, const std::set<std::string>& runners) {
  return Scanner(text, runners).Run();
}

}  // namespace framory::testing

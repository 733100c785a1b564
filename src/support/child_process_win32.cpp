#include <windows.h>

#include <algorithm>
#include <cerrno>

#include "support/child_process.h"

namespace sorrel {

namespace {

// What an ended child's exit code says when this process ended it.
constexpr UINT kKilledCode = 128 + 9;

std::wstring Wide(std::string_view utf8) {
  if (utf8.empty()) return {};
  const int size =
      MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(std::max(size, 0)), L'\0');
  if (size > 0) {
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), size);
  }
  return wide;
}

// The job every child is placed in. Its handle is never closed, so the
// system closes it when this process ends, however it ends, and the job's
// processes end with it.
HANDLE ChildJob() {
  static const HANDLE job = [] {
    HANDLE created = CreateJobObjectW(nullptr, nullptr);
    if (created == nullptr) return created;
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    SetInformationJobObject(created, JobObjectExtendedLimitInformation, &limits, sizeof limits);
    return created;
  }();
  return job;
}

void CloseIfOpen(HANDLE& handle) {
  if (handle != nullptr && handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  handle = nullptr;
}

DWORD MillisUntil(ChildProcess::Clock::time_point deadline) {
  if (deadline == ChildProcess::Clock::time_point::max()) return INFINITE;
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - ChildProcess::Clock::now());
  return static_cast<DWORD>(std::clamp<long long>(left.count(), 0, 1000));
}

int ErrnoOf(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_DIRECTORY:
      return ENOENT;
    case ERROR_ACCESS_DENIED:
      return EACCES;
    case ERROR_BAD_EXE_FORMAT:
    case ERROR_EXE_MACHINE_TYPE_MISMATCH:
      return ENOEXEC;
    default:
      return EINVAL;
  }
}

// The handles the child gets, made inheritable; only these are handed to it.
struct Plumbing {
  HANDLE null = nullptr;
  HANDLE outRead = nullptr, outWrite = nullptr;
  HANDLE errRead = nullptr, errWrite = nullptr;
  HANDLE outInherited = nullptr, errInherited = nullptr;

  ~Plumbing() {
    for (HANDLE* h :
         {&null, &outRead, &outWrite, &errRead, &errWrite, &outInherited, &errInherited}) {
      CloseIfOpen(*h);
    }
  }

  bool Open(const ChildLaunch& launch) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    null = CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       &inherit, OPEN_EXISTING, 0, nullptr);
    if (null == INVALID_HANDLE_VALUE) {
      null = nullptr;
      return false;
    }
    return Stream(launch.out, STD_OUTPUT_HANDLE, outRead, outWrite, outInherited) &&
           Stream(launch.err, STD_ERROR_HANDLE, errRead, errWrite, errInherited);
  }

  bool Stream(ChildStream stream, DWORD standard, HANDLE& read, HANDLE& write, HANDLE& inherited) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    if (stream == ChildStream::kPipe) {
      if (!CreatePipe(&read, &write, &inherit, 0)) return false;
      return SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0) != 0;
    }
    if (stream == ChildStream::kInherit) {
      // A GUI program may have no standard handle: the child gets NUL then.
      const HANDLE own = GetStdHandle(standard);
      if (own != nullptr && own != INVALID_HANDLE_VALUE) {
        DuplicateHandle(GetCurrentProcess(), own, GetCurrentProcess(), &inherited, 0, TRUE,
                        DUPLICATE_SAME_ACCESS);
      }
    }
    return true;
  }

  HANDLE Target(ChildStream stream, HANDLE write, HANDLE inherited) const {
    if (stream == ChildStream::kPipe) return write;
    if (stream == ChildStream::kInherit && inherited != nullptr) return inherited;
    return null;
  }
};

// This process's environment without the named variables, as a block
// CreateProcessW takes; names compare as Windows compares them, in any case.
std::wstring EnvironmentWithout(const std::vector<std::string>& drop) {
  std::vector<std::wstring> dropped;
  for (const std::string& name : drop) dropped.push_back(Wide(name));
  auto same = [](std::wstring_view a, std::wstring_view b) {
    return a.size() == b.size() &&
           CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
  };
  std::wstring block;
  wchar_t* const strings = GetEnvironmentStringsW();
  for (const wchar_t* entry = strings; entry != nullptr && *entry != L'\0';) {
    const std::wstring_view variable(entry);
    // The drive variables ("=C:=C:\\") start with "=": that one is no separator.
    const std::wstring_view name = variable.substr(0, variable.find(L'=', 1));
    if (std::none_of(dropped.begin(), dropped.end(),
                     [&](const std::wstring& d) { return same(d, name); })) {
      block.append(variable);
      block.push_back(L'\0');
    }
    entry += variable.size() + 1;
  }
  if (strings != nullptr) FreeEnvironmentStringsW(strings);
  if (block.empty()) block.push_back(L'\0');
  block.push_back(L'\0');
  return block;
}

}  // namespace

std::wstring QuoteArgument(std::wstring_view argument) {
  if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring_view::npos) {
    return std::wstring(argument);
  }
  std::wstring quoted = L"\"";
  std::size_t backslashes = 0;
  for (const wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    quoted.push_back(c);
  }
  quoted.append(backslashes * 2, L'\\');
  quoted.push_back(L'"');
  return quoted;
}

std::wstring CommandLineOf(const std::vector<std::string>& argv) {
  std::wstring line;
  for (const std::string& argument : argv) {
    if (!line.empty()) line.push_back(L' ');
    line += QuoteArgument(Wide(argument));
  }
  return line;
}

std::unique_ptr<ChildProcess> ChildProcess::Start(const ChildLaunch& launch, int& error) {
  error = 0;
  if (launch.argv.empty() || launch.argv[0].empty()) {
    error = EINVAL;
    return nullptr;
  }
  Plumbing plumbing;
  if (!plumbing.Open(launch)) {
    error = ErrnoOf(GetLastError());
    return nullptr;
  }
  STARTUPINFOEXW start{};
  start.StartupInfo.cb = sizeof start;
  start.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
  start.StartupInfo.hStdInput = plumbing.null;
  start.StartupInfo.hStdOutput =
      plumbing.Target(launch.out, plumbing.outWrite, plumbing.outInherited);
  start.StartupInfo.hStdError =
      plumbing.Target(launch.err, plumbing.errWrite, plumbing.errInherited);

  // Only the standard handles are inherited, never another one this process
  // left inheritable (a listening socket, say).
  std::vector<HANDLE> handed;
  for (HANDLE h :
       {start.StartupInfo.hStdInput, start.StartupInfo.hStdOutput, start.StartupInfo.hStdError}) {
    if (std::find(handed.begin(), handed.end(), h) == handed.end()) handed.push_back(h);
  }
  SIZE_T listSize = 0;
  InitializeProcThreadAttributeList(nullptr, 1, 0, &listSize);
  std::vector<unsigned char> listMemory(listSize);
  auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(listMemory.data());
  const bool listed =
      listSize > 0 && InitializeProcThreadAttributeList(list, 1, 0, &listSize) &&
      UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handed.data(),
                                handed.size() * sizeof(HANDLE), nullptr, nullptr);
  if (listed) start.lpAttributeList = list;

  std::wstring commandLine = CommandLineOf(launch.argv);
  std::wstring environment =
      launch.dropEnvironment.empty() ? std::wstring() : EnvironmentWithout(launch.dropEnvironment);
  DWORD flags = CREATE_SUSPENDED | CREATE_NO_WINDOW | CREATE_UNICODE_ENVIRONMENT;
  if (listed) flags |= EXTENDED_STARTUPINFO_PRESENT;
  if (launch.ownGroup) flags |= CREATE_NEW_PROCESS_GROUP;
  PROCESS_INFORMATION info{};
  const BOOL created = CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, flags,
                                      environment.empty() ? nullptr : environment.data(), nullptr,
                                      &start.StartupInfo, &info);
  const DWORD createError = GetLastError();
  if (listed) DeleteProcThreadAttributeList(list);
  if (!created) {
    error = ErrnoOf(createError);
    return nullptr;
  }
  // In the job before it runs a single instruction, so that no process it
  // starts escapes the job either.
  if (const HANDLE job = ChildJob(); job != nullptr) AssignProcessToJobObject(job, info.hProcess);
  ResumeThread(info.hThread);
  CloseHandle(info.hThread);

  std::unique_ptr<ChildProcess> child(new ChildProcess);
  child->pid_ = info.dwProcessId;
  child->process_ = info.hProcess;
  std::swap(child->out_, plumbing.outRead);
  std::swap(child->err_, plumbing.errRead);
  return child;
}

ChildProcess::~ChildProcess() {
  if (!exit_) Stop(std::chrono::milliseconds(0));
  CloseIfOpen(process_);
  CloseIfOpen(out_);
  CloseIfOpen(err_);
}

std::optional<std::string> ChildProcess::ReadLine(Clock::time_point deadline, std::size_t limit) {
  auto take = [&](std::size_t length, std::size_t skip) {
    std::string line = pending_.substr(0, length);
    pending_.erase(0, length + skip);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
  };
  for (;;) {
    if (const std::size_t end = pending_.find('\n'); end != std::string::npos && end <= limit) {
      return take(end, 1);
    }
    if (pending_.size() >= limit) return take(limit, 0);
    if (outputEnded_ || out_ == nullptr) return take(pending_.size(), 0);
    // An anonymous pipe cannot be waited on: it is looked at in short steps.
    DWORD available = 0;
    if (!PeekNamedPipe(out_, nullptr, 0, nullptr, &available, nullptr)) {
      outputEnded_ = true;
      continue;
    }
    if (available == 0) {
      if (Clock::now() >= deadline) return std::nullopt;
      Sleep(std::min<DWORD>(10, std::max<DWORD>(1, MillisUntil(deadline))));
      continue;
    }
    char buffer[512];
    DWORD n = 0;
    if (!ReadFile(out_, buffer, std::min<DWORD>(available, sizeof buffer), &n, nullptr) || n == 0) {
      outputEnded_ = true;
      continue;
    }
    pending_.append(buffer, n);
  }
}

std::optional<ChildExit> ChildProcess::Wait(Clock::time_point deadline) {
  while (!exit_) {
    const DWORD waited = WaitForSingleObject(process_, MillisUntil(deadline));
    if (waited == WAIT_OBJECT_0) {
      DWORD code = 0;
      ChildExit ended;
      if (GetExitCodeProcess(process_, &code)) ended.code = static_cast<int>(code);
      exit_ = ended;
      break;
    }
    if (waited == WAIT_FAILED) exit_ = ChildExit{};
    if (exit_ || Clock::now() >= deadline) break;
  }
  return exit_;
}

void ChildProcess::Signal(int signal) {
  if (exit_ || signal == 0) return;
  TerminateProcess(process_, static_cast<UINT>(128 + signal));
}

ChildExit ChildProcess::Stop(std::chrono::milliseconds grace, int /*first*/) {
  if (const std::optional<ChildExit> ended = Wait(Clock::now() + grace)) return *ended;
  TerminateProcess(process_, kKilledCode);
  return *Wait(Clock::time_point::max());
}

}  // namespace sorrel

// The files a conversion writes, with the overwrite prompt.
#include "cli/console.h"

#include "report/report.h"

namespace {

struct Target {
  const char* path;
  const char* kind;   // in the messages: "output", "timestamps"
  const char* title;  // the same at a line's start
  PlatformFile file;
  bool created;    // made by this run: deleted again when the run converts nothing
  bool replacing;  // an existing file, to be cut once every output is open
};

// The reasons to refuse a path that need no question.
bool refused(Report* report, const Target& t, PlatformFile input) {
  if (platform_path_names_file(t.path, input)) {
    report_error(report, 0, "Error: %s file %s is the input file; nothing converted.\n", t.title, t.path);
    return true;
  }
  if (platform_path_is_directory(t.path)) {
    report_error(report, 0, "Error: %s file %s is a directory; nothing converted.\n", t.title, t.path);
    return true;
  }
  return false;
}

// Whether an existing file may be replaced: -y, or the answer typed on the terminal.
bool may_replace(Report* report, const Target& t, bool assume_yes) {
  if (assume_yes) return true;
  if (!platform_console_is_terminal()) {
    report_error(report, 0, "%s file %s exists; not overwritten (use -y to overwrite).\n", t.title, t.path);
    return false;
  }
  print_prompt(report, "\n%s file %s already exists - Overwrite? (y/N):", t.title, t.path);
  int key = platform_console_read_key();  // -1 when interrupted: No
  if (key >= 0) {
    print_prompt(report, "%c\n", key);
  } else {
    print_prompt(report, "\n");
  }
  return key == 'y' || key == 'Y';
}

// Opens one file, nothing cut; `taken` is the output already open (or kInvalidFile).
bool open_target(Report* report, Target* t, PlatformFile input, PlatformFile taken, bool assume_yes) {
  // Two outputs of one run never share a file, whatever paths name it.
  if (taken != kInvalidFile && platform_path_names_file(t->path, taken)) {
    report_error(report, 0, "Error: %s file %s is the output file; nothing converted.\n", t->title, t->path);
    return false;
  }
  t->file = platform_create(t->path, kCreateNew, input);
  if (t->file != kInvalidFile) {
    t->created = platform_created_new_file();
    return true;
  }
  if (platform_last_error() != kErrorFileExists) {
    report_error(report, 0, "Unable to create %s file %s: %s", t->kind, t->path, system_error_text(report));
    return false;
  }
  if (!may_replace(report, *t, assume_yes)) return false;
  // The replace refuses to touch the input file itself, whatever path names it.
  t->file = platform_create(t->path, kOpenToReplace, input);
  if (t->file == kInvalidFile) {
    report_error(report, 0, "Unable to overwrite %s file %s: %s", t->kind, t->path,
                 system_error_text(report));
    return false;
  }
  t->replacing = true;
  return true;
}

}  // namespace

bool open_outputs(Report* report, const char* output_path, const char* timestamps_path, PlatformFile input,
                  bool assume_yes, RunOutputs* outputs) {
  Target targets[2] = {{output_path, "output", "Output", kInvalidFile, false, false},
                       {timestamps_path, "timestamps", "Timestamps", kInvalidFile, false, false}};
  int count = timestamps_path != nullptr ? 2 : 1;
  bool ok = true;
  for (int i = 0; i < count && ok; i++) ok = !refused(report, targets[i], input);
  for (int i = 0; i < count && ok; i++)
    ok = open_target(report, &targets[i], input, i == 0 ? kInvalidFile : targets[0].file, assume_yes);
  for (int i = 0; i < count && ok; i++) {
    if (targets[i].replacing && !platform_truncate(targets[i].file)) {
      report_error(report, 0, "Unable to overwrite %s file %s: %s", targets[i].kind, targets[i].path,
                   system_error_text(report));
      ok = false;
    }
  }
  if (!ok) {
    for (Target& t : targets) {
      platform_close(t.file);
      if (t.created) platform_remove(t.path);
    }
    return false;
  }
  outputs->output = targets[0].file;
  outputs->timestamps = targets[1].file;
  return true;
}

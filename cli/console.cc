// The files a conversion writes, with the overwrite prompt.
#include "cli/console.h"

#include "report/report.h"

namespace {

struct Target {
  const char* path;
  const char* kind;   // in the messages: "output", "timestamps", "plot"
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

// Opens one file, nothing cut; `taken` are the `taken_count` targets opened before it.
bool open_target(Report* report, Target* t, PlatformFile input, const Target* taken, int taken_count,
                 bool assume_yes) {
  // Two outputs of one run never share a file, whatever paths name it.
  for (int i = 0; i < taken_count; i++) {
    if (taken[i].file != kInvalidFile && platform_path_names_file(t->path, taken[i].file)) {
      report_error(report, 0, "Error: %s file %s is the %s file; nothing converted.\n", t->title, t->path,
                   taken[i].kind);
      return false;
    }
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

bool open_outputs(Report* report, const OutputPaths* paths, PlatformFile input, bool assume_yes,
                  RunOutputs* outputs) {
  // The files asked for, in the order they are asked about; each one's place in `outputs`.
  Target targets[3];
  PlatformFile* places[3];
  int count = 0;
  targets[count] = {paths->output, "output", "Output", kInvalidFile, false, false};
  places[count++] = &outputs->output;
  if (paths->timestamps != nullptr) {
    targets[count] = {paths->timestamps, "timestamps", "Timestamps", kInvalidFile, false, false};
    places[count++] = &outputs->timestamps;
  }
  if (paths->plot != nullptr) {
    targets[count] = {paths->plot, "plot", "Plot", kInvalidFile, false, false};
    places[count++] = &outputs->plot;
  }
  outputs->timestamps = kInvalidFile;
  outputs->plot = kInvalidFile;
  bool ok = true;
  for (int i = 0; i < count && ok; i++) ok = !refused(report, targets[i], input);
  for (int i = 0; i < count && ok; i++) ok = open_target(report, &targets[i], input, targets, i, assume_yes);
  for (int i = 0; i < count && ok; i++) {
    if (targets[i].replacing && !platform_truncate(targets[i].file)) {
      report_error(report, 0, "Unable to overwrite %s file %s: %s", targets[i].kind, targets[i].path,
                   system_error_text(report));
      ok = false;
    }
  }
  if (!ok) {
    for (int i = 0; i < count; i++) {
      platform_close(targets[i].file);
      if (targets[i].created) platform_remove(targets[i].path);
    }
    return false;
  }
  for (int i = 0; i < count; i++) *places[i] = targets[i].file;
  return true;
}

// The bitrate figures of a conversion and the picture of them.
#include "cli/bitrate_run.h"

#include <cstring>

#include "report/report.h"

namespace {

// The leaky buckets as the headers written declare them; none without HRD parameters.
BitrateHrd declared_buckets(const Vc1HeaderTable* table) {
  BitrateHrd hrd = {};
  if (vc1_get_field(table, VC1_HRD_PARAM_FLAG) != 1) return hrd;
  hrd.bucket_count = vc1_leaky_bucket_count(table);
  if (hrd.bucket_count > kBitrateMaxBuckets) hrd.bucket_count = kBitrateMaxBuckets;
  hrd.bit_rate_exponent = vc1_get_field(table, VC1_BIT_RATE_EXPONENT);
  hrd.buffer_size_exponent = vc1_get_field(table, VC1_BUFFER_SIZE_EXPONENT);
  for (uint32_t n = 0; n < hrd.bucket_count; n++) {
    hrd.rate[n] = table->hrd_rate_buffer[n].rate;
    hrd.buffer[n] = table->hrd_rate_buffer[n].buffer;
    hrd.full[n] = table->hrd_full[n];
  }
  return hrd;
}

// The picture's title: the input's name without its folders.
const char* base_name(const char* path) {
  const char* name = path;
  for (const char* p = path; *p != '\0'; p++) {
    if (*p == '/' || *p == '\\') name = p + 1;
  }
  return *name != '\0' ? name : path;
}

bool write_plot(Report* report, const RunBitrate* run, const BitrateResults* results, const Options* options,
                const AsfStreamRecord* record, PlatformFile plot_file) {
  const char* title = base_name(options->input_path);
  PlotLabels labels = {title, std::strlen(title), record->bitrate};
  if (plot_write_svg(run->plot, results, &labels, plot_file_sink(&plot_file))) return true;
  report_error(report, 0, "Error writing plot file %s: %s", options->plot_path, system_error_text(report));
  return false;
}

}  // namespace

bool run_bitrate_start(Report* report, const Options* options, const Vc1HeaderTable* table,
                       const AsfStreamRecord* record, RunBitrate* run) {
  BitrateSettings settings = {};
  settings.period = bitrate_period_from_100ns(record->ext_stream_properties.avg_time_per_frame);
  uint32_t num = 0;
  uint32_t den = 0;
  if (!bitrate_period_known(settings.period) && vc1_frame_rate(table, &num, &den)) {
    settings.period = bitrate_period_from_frame_rate(num, den);
  }
  settings.hrd = declared_buckets(table);
  run->plot = nullptr;
  if (options->plot_path != nullptr) {
    run->plot = plot_columns_create(settings.hrd.bucket_count);
    settings.plot = run->plot;
  }
  run->check =
      options->plot_path == nullptr || run->plot != nullptr ? bitrate_check_create(&settings) : nullptr;
  if (run->check != nullptr) return true;
  report_error(report, 0, "Error: Out of memory\n");
  run_bitrate_release(run);
  return false;
}

bool run_bitrate_finish(Report* report, RunBitrate* run, const Options* options,
                        const AsfStreamRecord* record, PlatformFile plot_file) {
  BitrateResults results;
  bitrate_check_finish(run->check, &results);
  char line[256];
  bitrate_format_summary(&results, line, sizeof line);
  print_at_level(report, 1, "\n%s", line);
  for (uint32_t n = 0; n < results.bucket_count; n++) {
    bitrate_format_bucket(&results.buckets[n], line, sizeof line);
    print_at_level(report, 1, "%s", line);
  }
  if (report->document != nullptr) bitrate_write_json(report->document, &results);
  return plot_file == kInvalidFile || write_plot(report, run, &results, options, record, plot_file);
}

void run_bitrate_release(RunBitrate* run) {
  bitrate_check_release(run->check);
  plot_columns_release(run->plot);
  run->check = nullptr;
  run->plot = nullptr;
}

// The extension module varnel._varnel: the library's entries for the Python
// package, each run as a job (job.h) that returns its result with the error
// and warning lines it reported, for the package to raise and warn with.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "common/run_files.h"
#include "dataset.h"
#include "direct_output.h"
#include "generate_command.h"
#include "generated_records.h"
#include "job.h"
#include "minerio/miner_params.h"
#include "mining_data.h"
#include "prepare_command.h"
#include "prepare_options.h"
#include "prepared_files.h"
#include "run_brimel.h"
#include "truth_file.h"

namespace py = pybind11;

namespace {

// Texts cross in UTF-8, and bytes that are not UTF-8 as Python's
// surrogate escapes, so that no value is refused or changed on the way.
std::string text_of(py::handle object) {
  const py::object bytes = py::reinterpret_steal<py::object>(
      PyUnicode_AsEncodedString(object.ptr(), "utf-8", "surrogateescape"));
  if (!bytes) throw py::error_already_set();
  return std::string(PyBytes_AS_STRING(bytes.ptr()),
                     static_cast<size_t>(PyBytes_GET_SIZE(bytes.ptr())));
}

py::object text_object(const std::string& text) {
  PyObject* object =
      PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "surrogateescape");
  if (object == nullptr) throw py::error_already_set();
  return py::reinterpret_steal<py::object>(object);
}

std::vector<std::string> texts_of(py::handle sequence) {
  std::vector<std::string> texts;
  for (const py::handle item : sequence) texts.push_back(text_of(item));
  return texts;
}

py::list text_list(const std::vector<std::string>& texts) {
  py::list list;
  for (const std::string& text : texts) list.append(text_object(text));
  return list;
}

template <typename T>
py::array_t<T> array_of(const std::vector<T>& values) {
  py::array_t<T> array(static_cast<py::ssize_t>(values.size()));
  if (!values.empty()) std::memcpy(array.mutable_data(), values.data(), values.size() * sizeof(T));
  return array;
}

// What every entry returns: its result (None when it failed) and the error
// and warning lines it reported.
py::tuple outcome(py::object result, const ReportedLines& log) {
  return py::make_tuple(std::move(result), text_list(log.errors), text_list(log.warning_lines));
}

// The options of varnel-prepare, checked as its command line checks them,
// for the input `input` (its extension tells the format).
bool prepare_options_of(const std::string& input, const std::vector<std::string>& arguments,
                        PrepareOptions& options) {
  std::vector<std::string> words = {"varnel-prepare"};
  words.insert(words.end(), arguments.begin(), arguments.end());
  words.push_back(input);
  words.push_back("unused");
  std::vector<const char*> argv;
  for (const std::string& word : words) argv.push_back(word.c_str());
  std::string error;
  if (parse_prepare_options(static_cast<int>(argv.size()), argv.data(), options, error))
    return true;
  report_error("%s", error.c_str());
  return false;
}

py::object dataset_object(std::optional<Dataset>& dataset) {
  if (!dataset) return py::none();
  return py::cast(std::make_shared<Dataset>(std::move(*dataset)));
}

// columns: (name, numeric, declared values, values, codes) each.
py::tuple dataset_from_frame(py::handle name_text, py::list columns, py::list arguments) {
  const std::string name = text_of(name_text);
  const std::vector<std::string> words = texts_of(arguments);
  std::vector<FrameColumn> frame;
  for (const py::handle item : columns) {
    const py::tuple column = py::reinterpret_borrow<py::tuple>(item);
    FrameColumn out;
    out.name = text_of(column[0]);
    out.numeric = column[1].cast<bool>();
    out.declared = texts_of(column[2]);
    out.values = texts_of(column[3]);
    const auto codes = column[4].cast<py::array_t<int64_t, py::array::c_style>>();
    out.codes.assign(codes.data(), codes.data() + codes.size());
    frame.push_back(std::move(out));
  }
  std::optional<Dataset> dataset;
  const ReportedLines log = run_job([&](const std::atomic<bool>&) {
    PrepareOptions options;
    if (!prepare_options_of(name + ".csv", words, options)) return;
    std::optional<PreparedTable> table =
        prepare_dataset(raw_dataset_of(frame), options.settings, name);
    if (table) dataset = dataset_of_table(name, std::move(*table));
  });
  return outcome(dataset_object(dataset), log);
}

py::tuple dataset_from_file(py::handle path_text, py::handle name_text, py::list arguments) {
  const std::string path = text_of(path_text);
  const std::string name = text_of(name_text);
  const std::vector<std::string> words = texts_of(arguments);
  std::optional<Dataset> dataset;
  const ReportedLines log = run_job([&](const std::atomic<bool>&) {
    PrepareOptions options;
    if (!prepare_options_of(path, words, options)) return;
    std::optional<PreparedInput> prepared = prepare_input(options);
    if (prepared) dataset = dataset_of_table(name, std::move(prepared->table));
  });
  return outcome(dataset_object(dataset), log);
}

py::tuple dataset_from_prepared(py::handle base_text, py::handle name_text) {
  const std::string base = text_of(base_text);
  const std::string name = text_of(name_text);
  std::optional<Dataset> dataset;
  const ReportedLines log =
      run_job([&](const std::atomic<bool>&) { dataset = read_prepared_dataset(base, name); });
  return outcome(dataset_object(dataset), log);
}

py::tuple write_dataset(const Dataset& dataset, py::handle base_text) {
  const std::string base = text_of(base_text);
  bool written = false;
  const ReportedLines log = run_job([&](const std::atomic<bool>&) {
    std::string error;
    written = dataset.table && write_prepared_files(*dataset.table, base, error);
    if (!written) report_error("%s", error.c_str());
  });
  return outcome(py::bool_(written), log);
}

// (name, values, codes) per column.
py::list frame_columns(const Dataset& dataset) {
  py::list out;
  if (!dataset.table) return out;
  for (const FrameColumn& column : frame_columns_of(*dataset.table))
    out.append(
        py::make_tuple(text_object(column.name), text_list(column.values), array_of(column.codes)));
  return out;
}

// The rule table's columns, filled in the job.
struct DirectColumn {
  RuleColumn head;
  std::vector<int64_t> numbers;  // integer and flag columns
  std::vector<double> reals;
  std::vector<std::string> texts;
};

std::vector<DirectColumn> direct_columns(const DirectFigures& figures) {
  std::vector<DirectColumn> columns;
  for (const RuleColumn& head : direct_rule_columns()) columns.push_back({head, {}, {}, {}});
  for (size_t r = 0; r < figures.rules.size(); ++r) {
    const std::vector<RuleCell> cells = direct_rule_cells(figures, r);
    for (size_t c = 0; c < columns.size() && c < cells.size(); ++c) {
      DirectColumn& column = columns[c];
      if (const auto* number = std::get_if<int64_t>(&cells[c]))
        column.numbers.push_back(*number);
      else if (const auto* real = std::get_if<double>(&cells[c]))
        column.reals.push_back(*real);
      else if (const auto* text = std::get_if<std::string>(&cells[c]))
        column.texts.push_back(*text);
      else
        column.numbers.push_back(std::get<bool>(cells[c]) ? 1 : 0);
    }
  }
  return columns;
}

py::object column_object(const DirectColumn& column) {
  switch (column.head.kind) {
    case CellKind::real:
      return array_of(column.reals);
    case CellKind::text:
      return text_list(column.texts);
    case CellKind::integer:
    case CellKind::flag:
      break;
  }
  return array_of(column.numbers);
}

// The direct run on `dataset`: columns [(name, kind, values)], methods
// [(name, level, rules)] and the record's JSON text.
py::tuple direct(const Dataset& dataset, py::handle target_text, py::handle value_text,
                 int32_t min_sup, double level, int32_t permutations, uint64_t seed,
                 bool tarone_lowered, int32_t top_k) {
  MinerParams params = miner_params_for(dataset.name, text_of(target_text), text_of(value_text),
                                        min_sup, level, dataset.name);
  params.direct = true;
  params.gen_tid_list = false;
  params.permutations = permutations;
  params.permutation_seed = seed;
  params.tarone_lowered = tarone_lowered;
  params.top_k = top_k;
  std::optional<DirectFigures> figures;
  std::vector<DirectColumn> columns;
  const ReportedLines log = run_job([&](const std::atomic<bool>& stop) {
    MiningData data;
    if (!mining_data_from_lines(params, dataset.names, dataset.lines, data)) return;
    // The driver refuses such a target value; the miner alone would find
    // no rule and say nothing.
    if (reported_lines().errors.empty() && !params.target_value.empty() && data.positives == 0) {
      report_error("no record of %s has the target value %s", params.data_file.c_str(),
                   params.target_value.c_str());
      return;
    }
    figures = run_direct_in_memory(params, data, &stop);
    if (figures) columns = direct_columns(*figures);
  });
  if (!figures || !log.errors.empty()) return outcome(py::none(), log);
  py::list column_list;
  for (const DirectColumn& column : columns)
    column_list.append(py::make_tuple(column.head.name, column_object(column)));
  py::list methods;
  for (const MethodSummary& method : method_summaries(*figures))
    methods.append(py::make_tuple(method.name, method.level, method.rules));
  return outcome(py::make_tuple(column_list, methods, text_object(direct_record_text(*figures))),
                 log);
}

// A generated data set in memory: (class name, class codes, [(name, values,
// codes)], truth JSON text).
py::tuple generate(py::handle settings_text, uint64_t seed) {
  const std::string settings = text_of(settings_text);
  std::optional<GeneratorModel> model;
  std::vector<int8_t> classes;
  std::vector<std::vector<int16_t>> codes;
  std::string truth;
  bool complete = false;
  const ReportedLines log = run_job([&](const std::atomic<bool>& stop) {
    std::mt19937_64 engine(seed);
    model = read_model(settings, "settings", engine);
    if (!model) return;
    const size_t records = static_cast<size_t>(model->records);
    classes.reserve(records);
    codes.resize(model->attributes.size());
    for (std::vector<int16_t>& column : codes) column.reserve(records);
    GeneratedCounts counts;
    draw_records(*model, engine, counts, [&](bool in_class, const std::vector<int>& values) {
      classes.push_back(in_class ? 1 : 0);
      for (size_t a = 0; a < values.size(); ++a)
        codes[a].push_back(static_cast<int16_t>(values[a]));
      return (classes.size() & 0xfff) != 0 || !stop.load(std::memory_order_relaxed);
    });
    truth = truth_file_text(*model, seed);
    complete = classes.size() == records;
  });
  if (!model || !complete) return outcome(py::none(), log);
  py::list columns;
  for (size_t a = 0; a < model->attributes.size(); ++a)
    columns.append(py::make_tuple(text_object(model->attributes[a].name),
                                  text_list(model->attributes[a].values), array_of(codes[a])));
  return outcome(py::make_tuple(text_object(model->class_name), array_of(classes), columns,
                                text_object(truth)),
                 log);
}

}  // namespace

PYBIND11_MODULE(_varnel, m) {
  m.doc() = "The library entries of varnel; use the package varnel, not this module.";
  py::class_<Dataset, std::shared_ptr<Dataset>>(m, "Dataset")
      .def_property_readonly("name", [](const Dataset& d) { return text_object(d.name); })
      .def_property_readonly("records",
                             [](const Dataset& d) {
                               int64_t records = 0;
                               for (const std::string& line : d.lines) records += !line.empty();
                               return records;
                             })
      .def("mining_records", &mining_part_records)
      .def_property_readonly("class_name",
                             [](const Dataset& d) -> py::object {
                               if (!d.table) return py::none();
                               return text_object(d.table->columns[d.table->class_column].name);
                             })
      .def("write", &write_dataset)
      .def("frame_columns", &frame_columns);
  m.def("dataset_from_frame", &dataset_from_frame);
  m.def("dataset_from_file", &dataset_from_file);
  m.def("dataset_from_prepared", &dataset_from_prepared);
  m.def("direct", &direct);
  m.def("generate", &generate);
  // The file names of the programs, from the one place that forms them.
  m.def("file_names", [](py::handle base_text) {
    const std::string base = text_of(base_text);
    py::dict names;
    names["data"] = text_object(data_file(base));
    names["names"] = text_object(names_file(base));
    names["rules"] = text_object(rule_table_file(base));
    names["record"] = text_object(experiment_record_file(base));
    names["direct_record"] = text_object(direct_results_file(base));
    names["direct_rules"] = text_object(direct_rule_table_file(base));
    return names;
  });
  m.attr("MAX_PERMUTATIONS") = kMaxPermutations;
  m.attr("VERSION") = VARNEL_VERSION;
}

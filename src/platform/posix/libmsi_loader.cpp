// The installer library of the emulated host, loaded when the installer is first used rather
// than when the program starts, as the Windows build loads msi.dll: a run that never opens a
// database (writing out the package, the patch list) starts without libmsi and the seventeen
// libraries it brings (GLib, libgsf, libxml2, ICU …), whose loading would otherwise take
// longer than the run's own work.
//
// Linked into the product executable only (tests and tools link libmsi itself). Each function
// of libmsi, libgsf (which libmsi brings) and GLib the backend calls is defined here with the
// library's own declaration and forwards to the library's function, resolved once. A library that
// cannot be loaded ends the process with one line on stderr: the emulated installer cannot work
// without it.
#include <dlfcn.h>
#include <gsf/gsf.h>
#include <libmsi.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace {

[[noreturn]] void Unavailable(const char* what) {
  std::fprintf(stderr, "spsetup: the installer library is unavailable: %s\n", what);
  std::exit(1);
}

void* Library() {
  // libmsi's dependencies (GObject, GLib) come with it and are searched through its handle.
  static void* const library = [] {
    void* handle = dlopen("libmsi.so.0", RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) Unavailable(dlerror());
    return handle;
  }();
  return library;
}

template <typename Function>
Function Resolve(const char* name) {
  void* symbol = dlsym(Library(), name);
  if (symbol == nullptr) Unavailable(name);
  return reinterpret_cast<Function>(symbol);
}

}  // namespace

// Defines `name` with the parameter list of its declaration, calling the library's function.
#define SPSETUP_FORWARD(result, name, parameters, arguments)    \
  extern "C" result name parameters {                           \
    static const auto target = Resolve<decltype(&name)>(#name); \
    return target arguments;                                    \
  }

SPSETUP_FORWARD(void, g_error_free, (GError * error), (error))
SPSETUP_FORWARD(void, g_free, (gpointer memory), (memory))
SPSETUP_FORWARD(guint, g_log_set_handler,
                (const gchar* domain, GLogLevelFlags levels, GLogFunc function, gpointer data),
                (domain, levels, function, data))
// GLib wraps the function in a macro that keeps the argument's type; the function is defined.
#undef g_object_ref
SPSETUP_FORWARD(gpointer, g_object_ref, (gpointer object), (object))
SPSETUP_FORWARD(void, g_object_unref, (gpointer object), (object))
SPSETUP_FORWARD(GTypeInstance*, g_type_check_instance_cast, (GTypeInstance * instance, GType type),
                (instance, type))
SPSETUP_FORWARD(GType, libmsi_database_get_type, (void), ())
SPSETUP_FORWARD(LibmsiDatabase*, libmsi_database_new,
                (const gchar* path, guint flags, const char* persist, GError** error),
                (path, flags, persist, error))
SPSETUP_FORWARD(gboolean, libmsi_database_commit, (LibmsiDatabase * database, GError** error),
                (database, error))
SPSETUP_FORWARD(LibmsiRecord*, libmsi_database_get_primary_keys,
                (LibmsiDatabase * database, const char* table, GError** error),
                (database, table, error))
SPSETUP_FORWARD(LibmsiQuery*, libmsi_query_new,
                (LibmsiDatabase * database, const gchar* query, GError** error),
                (database, query, error))
SPSETUP_FORWARD(gboolean, libmsi_query_execute,
                (LibmsiQuery * query, LibmsiRecord* record, GError** error), (query, record, error))
SPSETUP_FORWARD(LibmsiRecord*, libmsi_query_fetch, (LibmsiQuery * query, GError** error),
                (query, error))
SPSETUP_FORWARD(gboolean, libmsi_query_close, (LibmsiQuery * query, GError** error), (query, error))
SPSETUP_FORWARD(LibmsiRecord*, libmsi_query_get_column_info,
                (LibmsiQuery * query, LibmsiColInfo info, GError** error), (query, info, error))
SPSETUP_FORWARD(LibmsiRecord*, libmsi_record_new, (guint count), (count))
SPSETUP_FORWARD(guint, libmsi_record_get_field_count, (const LibmsiRecord* record), (record))
SPSETUP_FORWARD(gboolean, libmsi_record_is_null, (const LibmsiRecord* record, guint field),
                (record, field))
SPSETUP_FORWARD(gint, libmsi_record_get_int, (const LibmsiRecord* record, guint field),
                (record, field))
SPSETUP_FORWARD(gboolean, libmsi_record_set_int, (LibmsiRecord * record, guint field, gint value),
                (record, field, value))
SPSETUP_FORWARD(gchar*, libmsi_record_get_string, (const LibmsiRecord* record, guint field),
                (record, field))
SPSETUP_FORWARD(gboolean, libmsi_record_set_string,
                (LibmsiRecord * record, guint field, const gchar* value), (record, field, value))
SPSETUP_FORWARD(LibmsiSummaryInfo*, libmsi_summary_info_new,
                (LibmsiDatabase * database, unsigned updates, GError** error),
                (database, updates, error))
SPSETUP_FORWARD(LibmsiPropertyType, libmsi_summary_info_get_property_type,
                (LibmsiSummaryInfo * summary, LibmsiProperty property, GError** error),
                (summary, property, error))
SPSETUP_FORWARD(const gchar*, libmsi_summary_info_get_string,
                (LibmsiSummaryInfo * summary, LibmsiProperty property, GError** error),
                (summary, property, error))
SPSETUP_FORWARD(gint, libmsi_summary_info_get_int,
                (LibmsiSummaryInfo * summary, LibmsiProperty property, GError** error),
                (summary, property, error))
SPSETUP_FORWARD(guint64, libmsi_summary_info_get_filetime,
                (LibmsiSummaryInfo * summary, LibmsiProperty property, GError** error),
                (summary, property, error))

// The one variadic function: its va_list form takes the arguments on.
extern "C" void g_object_get(gpointer object, const gchar* first, ...) {
  static const auto target = Resolve<decltype(&g_object_get_valist)>("g_object_get_valist");
  va_list arguments;
  va_start(arguments, first);
  target(static_cast<GObject*>(object), first, arguments);
  va_end(arguments);
}

// libgsf, for the transforms of patch packages, comes with libmsi.
SPSETUP_FORWARD(gboolean, g_type_check_instance_is_a, (GTypeInstance * instance, GType type),
                (instance, type))
SPSETUP_FORWARD(void, gsf_init, (void), ())
SPSETUP_FORWARD(GType, gsf_infile_get_type, (void), ())
SPSETUP_FORWARD(GType, gsf_output_get_type, (void), ())
SPSETUP_FORWARD(GType, gsf_outfile_get_type, (void), ())
SPSETUP_FORWARD(GType, gsf_outfile_msole_get_type, (void), ())
SPSETUP_FORWARD(GsfInfile*, gsf_infile_msole_new, (GsfInput * source, GError** error),
                (source, error))
SPSETUP_FORWARD(int, gsf_infile_num_children, (GsfInfile * infile), (infile))
SPSETUP_FORWARD(char const*, gsf_infile_name_by_index, (GsfInfile * infile, int i), (infile, i))
SPSETUP_FORWARD(GsfInput*, gsf_infile_child_by_index, (GsfInfile * infile, int i), (infile, i))
SPSETUP_FORWARD(GsfInput*, gsf_infile_child_by_name, (GsfInfile * infile, char const* name),
                (infile, name))
SPSETUP_FORWARD(GsfInput*, gsf_input_stdio_new, (char const* filename, GError** error),
                (filename, error))
SPSETUP_FORWARD(gsf_off_t, gsf_input_size, (GsfInput * input), (input))
SPSETUP_FORWARD(guint8 const*, gsf_input_read, (GsfInput * input, size_t count, guint8* buffer),
                (input, count, buffer))
SPSETUP_FORWARD(gboolean, gsf_input_copy, (GsfInput * input, GsfOutput* output), (input, output))
SPSETUP_FORWARD(GsfOutput*, gsf_output_stdio_new, (char const* filename, GError** error),
                (filename, error))
SPSETUP_FORWARD(gboolean, gsf_output_close, (GsfOutput * output), (output))
SPSETUP_FORWARD(gboolean, gsf_output_is_closed, (GsfOutput const* output), (output))
SPSETUP_FORWARD(GsfOutput*, gsf_outfile_new_child,
                (GsfOutfile * outfile, char const* name, gboolean is_dir), (outfile, name, is_dir))
SPSETUP_FORWARD(GsfOutfile*, gsf_outfile_msole_new, (GsfOutput * sink), (sink))
SPSETUP_FORWARD(gboolean, gsf_outfile_msole_set_class_id,
                (GsfOutfileMSOle * ole, guint8 const* clsid), (ole, clsid))

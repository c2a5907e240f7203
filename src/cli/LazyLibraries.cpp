// The command-line tools do not link the libraries that only a few commands
// use: ICU (sizes, counts and dates for people, name order, the Messages
// export), GLib, GIO and Flatpak (the app inventory's menu entries and Flatpak
// apps; Flatpak alone brings some sixty further libraries), libsquashfs and
// liblzma (AppImages), libplist (bundle property lists), SQLite (the Messages
// export), libzstd and zlib (saved scans and scan exports) and libbtrfsutil
// (snapshots). Each entry point the engines call is defined here and forwards to
// the real function, which is looked up in its library the first time it is
// called. `vessora scan` thus starts without mapping and relocating those
// libraries (about 14 MB of memory, ICU's share near 2 MB; loading a library
// costs the process its symbol tables and relocations even when nothing of it
// runs); `vessora apps` loads them on first use.
//
// Only C functions can be forwarded this way, which is why the engines use
// ICU's C API alone. ICU's headers rename each of its functions after the
// library's major version (ucol_open is ucol_open_72 for ICU 72): the entry
// points below are looked up under the expanded names, and ICU's sonames carry
// the same version, so a newer ICU needs only a rebuild.
//
// The window links the libraries as usual (Qt loads GLib anyway). The
// declarations come from the libraries' own headers, so a definition here that
// disagrees with one is a compile error. An engine that starts calling another
// function of these libraries makes the tools' link fail with an undefined
// reference: add a LAZY line for it below.

#include <btrfsutil.h>
#include <dlfcn.h>
#include <flatpak.h>
#include <gio/gio.h>
#include <glib.h>
#include <lzma.h>
#include <plist/plist.h>
#include <sqfs/compressor.h>
#include <sqfs/data_reader.h>
#include <sqfs/inode.h>
#include <sqfs/meta_reader.h>
#include <sqfs/super.h>
#include <sqlite3.h>
#include <unicode/ubrk.h>
#include <unicode/ucal.h>
#include <unicode/ucol.h>
#include <unicode/udat.h>
#include <unicode/uloc.h>
#include <unicode/unorm2.h>
#include <unicode/unumberformatter.h>
#include <unicode/ureldatefmt.h>
#include <unicode/ustring.h>
#include <unicode/uvernum.h>
#include <zlib.h>
#include <zstd.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>

// A macro's expansion as a string (ICU's function names and version).
#define VESSORA_EXPANDED_STRING(x) VESSORA_STRING(x)
#define VESSORA_STRING(x) #x

namespace {

enum Library {
    glib,
    gobject,
    gio,
    flatpak,
    squashfs,
    plist,
    sqlite,
    lzma,
    zstd,
    zlib,
    btrfsutil,
    icuuc,
    icui18n,
    libraryCount
};

// The sonames the build links against elsewhere (Debian 12); ICU's carry its
// major version.
constexpr const char* kSonames[libraryCount] = {"libglib-2.0.so.0",
                                                "libgobject-2.0.so.0",
                                                "libgio-2.0.so.0",
                                                "libflatpak.so.0",
                                                "libsquashfs.so.1",
                                                "libplist-2.0.so.3",
                                                "libsqlite3.so.0",
                                                "liblzma.so.5",
                                                "libzstd.so.1",
                                                "libz.so.1",
                                                "libbtrfsutil.so.1",
                                                "libicuuc.so." VESSORA_EXPANDED_STRING(U_ICU_VERSION_MAJOR_NUM),
                                                "libicui18n.so." VESSORA_EXPANDED_STRING(U_ICU_VERSION_MAJOR_NUM)};

// A missing library is a broken installation (the package depends on each):
// the command stops with a message rather than running without it.
[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "vessora: %s\n", what);
    std::_Exit(127);
}

void* symbol(Library library, const char* name) {
    static std::once_flag once[libraryCount];
    static void* handles[libraryCount];
    std::call_once(once[library], [library] {
        // Global, so that a library loaded here and one loaded as another's
        // dependency are the same copy.
        handles[library] = ::dlopen(kSonames[library], RTLD_NOW | RTLD_GLOBAL);
        if (!handles[library]) fail(::dlerror());
    });
    void* address = ::dlsym(handles[library], name);
    if (!address) fail(::dlerror());
    return address;
}

} // namespace

// The name in parentheses: GLib defines some entry points as function-like
// macros too. The name looked up is the name after expansion: ICU's names are
// macros for the versioned ones.
#define LAZY(library, result, name, parameters, arguments)                                                             \
    extern "C" result(name) parameters {                                                                               \
        static const auto real = reinterpret_cast<decltype(&::name)>(symbol(library, VESSORA_EXPANDED_STRING(name)));  \
        return real arguments;                                                                                         \
    }

// Strings, case, normalisation, characters and locale IDs are ICU's common
// library; collation and the formats are its i18n library, which loads the
// common one as a dependency.
LAZY(icuuc, UBreakIterator*, ubrk_open,
     (UBreakIteratorType a0, const char* a1, const UChar* a2, int32_t a3, UErrorCode* a4), (a0, a1, a2, a3, a4))
LAZY(icuuc, const UNormalizer2*, unorm2_getNFDInstance, (UErrorCode * a0), (a0))
LAZY(icuuc, int32_t, u_countChar32, (const UChar* a0, int32_t a1), (a0, a1))
LAZY(icuuc, int32_t, u_strFoldCase, (UChar * a0, int32_t a1, const UChar* a2, int32_t a3, uint32_t a4, UErrorCode* a5),
     (a0, a1, a2, a3, a4, a5))
LAZY(icuuc, int32_t, u_strToUpper,
     (UChar * a0, int32_t a1, const UChar* a2, int32_t a3, const char* a4, UErrorCode* a5), (a0, a1, a2, a3, a4, a5))
LAZY(icuuc, int32_t, ubrk_first, (UBreakIterator * a0), (a0))
LAZY(icuuc, int32_t, ubrk_next, (UBreakIterator * a0), (a0))
LAZY(icuuc, int32_t, uloc_getVariant, (const char* a0, char* a1, int32_t a2, UErrorCode* a3), (a0, a1, a2, a3))
LAZY(icuuc, int32_t, unorm2_normalize,
     (const UNormalizer2* a0, const UChar* a1, int32_t a2, UChar* a3, int32_t a4, UErrorCode* a5),
     (a0, a1, a2, a3, a4, a5))
LAZY(icuuc, UChar*, u_strFromUTF8WithSub,
     (UChar * a0, int32_t a1, int32_t* a2, const char* a3, int32_t a4, UChar32 a5, int32_t* a6, UErrorCode* a7),
     (a0, a1, a2, a3, a4, a5, a6, a7))
LAZY(icuuc, char*, u_strToUTF8WithSub,
     (char* a0, int32_t a1, int32_t* a2, const UChar* a3, int32_t a4, UChar32 a5, int32_t* a6, UErrorCode* a7),
     (a0, a1, a2, a3, a4, a5, a6, a7))
LAZY(icuuc, void, ubrk_close, (UBreakIterator * a0), (a0))

LAZY(icui18n, UCalendar*, ucal_open, (const UChar* a0, int32_t a1, const char* a2, UCalendarType a3, UErrorCode* a4),
     (a0, a1, a2, a3, a4))
LAZY(icui18n, UCollationResult, ucol_strcollUTF8,
     (const UCollator* a0, const char* a1, int32_t a2, const char* a3, int32_t a4, UErrorCode* a5),
     (a0, a1, a2, a3, a4, a5))
LAZY(icui18n, UCollator*, ucol_open, (const char* a0, UErrorCode* a1), (a0, a1))
LAZY(icui18n, UDateFormat*, udat_open,
     (UDateFormatStyle a0, UDateFormatStyle a1, const char* a2, const UChar* a3, int32_t a4, const UChar* a5,
      int32_t a6, UErrorCode* a7),
     (a0, a1, a2, a3, a4, a5, a6, a7))
LAZY(icui18n, UFormattedNumber*, unumf_openResult, (UErrorCode * a0), (a0))
LAZY(icui18n, UNumberFormatter*, unumf_openForSkeletonAndLocale,
     (const UChar* a0, int32_t a1, const char* a2, UErrorCode* a3), (a0, a1, a2, a3))
LAZY(icui18n, URelativeDateTimeFormatter*, ureldatefmt_open,
     (const char* a0, UNumberFormat* a1, UDateRelativeDateTimeFormatterStyle a2, UDisplayContext a3, UErrorCode* a4),
     (a0, a1, a2, a3, a4))
LAZY(icui18n, int32_t, ucal_getFieldDifference, (UCalendar * a0, UDate a1, UCalendarDateFields a2, UErrorCode* a3),
     (a0, a1, a2, a3))
LAZY(icui18n, int32_t, udat_format,
     (const UDateFormat* a0, UDate a1, UChar* a2, int32_t a3, UFieldPosition* a4, UErrorCode* a5),
     (a0, a1, a2, a3, a4, a5))
LAZY(icui18n, int32_t, unumf_resultToString, (const UFormattedNumber* a0, UChar* a1, int32_t a2, UErrorCode* a3),
     (a0, a1, a2, a3))
LAZY(icui18n, int32_t, ureldatefmt_formatNumeric,
     (const URelativeDateTimeFormatter* a0, double a1, URelativeDateTimeUnit a2, UChar* a3, int32_t a4, UErrorCode* a5),
     (a0, a1, a2, a3, a4, a5))
LAZY(icui18n, void, ucal_close, (UCalendar * a0), (a0))
LAZY(icui18n, void, ucal_setMillis, (UCalendar * a0, UDate a1, UErrorCode* a2), (a0, a1, a2))
LAZY(icui18n, void, ucol_close, (UCollator * a0), (a0))
LAZY(icui18n, void, ucol_setAttribute, (UCollator * a0, UColAttribute a1, UColAttributeValue a2, UErrorCode* a3),
     (a0, a1, a2, a3))
LAZY(icui18n, void, udat_close, (UDateFormat * a0), (a0))
LAZY(icui18n, void, unumf_close, (UNumberFormatter * a0), (a0))
LAZY(icui18n, void, unumf_closeResult, (UFormattedNumber * a0), (a0))
LAZY(icui18n, void, unumf_formatDecimal,
     (const UNumberFormatter* a0, const char* a1, int32_t a2, UFormattedNumber* a3, UErrorCode* a4),
     (a0, a1, a2, a3, a4))
LAZY(icui18n, void, unumf_formatInt, (const UNumberFormatter* a0, int64_t a1, UFormattedNumber* a2, UErrorCode* a3),
     (a0, a1, a2, a3))
LAZY(icui18n, void, ureldatefmt_close, (URelativeDateTimeFormatter * a0), (a0))

LAZY(glib, GKeyFile*, g_key_file_new, (), ())
LAZY(glib, gboolean, g_key_file_get_boolean, (GKeyFile * a0, const gchar* a1, const gchar* a2, GError** a3),
     (a0, a1, a2, a3))
LAZY(glib, gboolean, g_key_file_has_group, (GKeyFile * a0, const gchar* a1), (a0, a1))
LAZY(glib, gboolean, g_key_file_load_from_data,
     (GKeyFile * a0, const gchar* a1, gsize a2, GKeyFileFlags a3, GError** a4), (a0, a1, a2, a3, a4))
LAZY(glib, gboolean, g_shell_parse_argv, (const gchar* a0, gint* a1, gchar*** a2, GError** a3), (a0, a1, a2, a3))
LAZY(glib, gchar*, g_compute_checksum_for_string, (GChecksumType a0, const gchar* a1, gssize a2), (a0, a1, a2))
LAZY(glib, gchar*, g_filename_to_uri, (const gchar* a0, const gchar* a1, GError** a2), (a0, a1, a2))
LAZY(glib, gchar*, g_key_file_get_locale_string,
     (GKeyFile * a0, const gchar* a1, const gchar* a2, const gchar* a3, GError** a4), (a0, a1, a2, a3, a4))
LAZY(glib, gchar*, g_key_file_get_string, (GKeyFile * a0, const gchar* a1, const gchar* a2, GError** a3),
     (a0, a1, a2, a3))
LAZY(glib, void, g_clear_error, (GError * *a0), (a0))
LAZY(glib, void, g_error_free, (GError * a0), (a0))
LAZY(glib, void, g_free, (gpointer a0), (a0))
LAZY(glib, void, g_key_file_free, (GKeyFile * a0), (a0))
LAZY(glib, void, g_ptr_array_unref, (GPtrArray * a0), (a0))
LAZY(glib, void, g_strfreev, (gchar * *a0), (a0))

LAZY(gobject, GTypeInstance*, g_type_check_instance_cast, (GTypeInstance * a0, GType a1), (a0, a1))
LAZY(gobject, gpointer, g_object_ref, (gpointer a0), (a0))
LAZY(gobject, void, g_object_unref, (gpointer a0), (a0))

LAZY(gio, char*, g_file_get_path, (GFile * a0), (a0))

LAZY(flatpak, FlatpakInstallation*, flatpak_installation_new_user, (GCancellable * a0, GError** a1), (a0, a1))
LAZY(flatpak, FlatpakTransaction*, flatpak_transaction_new_for_installation,
     (FlatpakInstallation * a0, GCancellable* a1, GError** a2), (a0, a1, a2))
LAZY(flatpak, GFile*, flatpak_installation_get_path, (FlatpakInstallation * a0), (a0))
LAZY(flatpak, GPtrArray*, flatpak_get_system_installations, (GCancellable * a0, GError** a1), (a0, a1))
LAZY(flatpak, GPtrArray*, flatpak_installation_list_installed_refs_by_kind,
     (FlatpakInstallation * a0, FlatpakRefKind a1, GCancellable* a2, GError** a3), (a0, a1, a2, a3))
LAZY(flatpak, GType, flatpak_installation_get_type, (), ())
LAZY(flatpak, GType, flatpak_ref_get_type, (), ())
LAZY(flatpak, char*, flatpak_ref_format_ref, (FlatpakRef * a0), (a0))
LAZY(flatpak, const char*, flatpak_installed_ref_get_appdata_name, (FlatpakInstalledRef * a0), (a0))
LAZY(flatpak, const char*, flatpak_installed_ref_get_appdata_version, (FlatpakInstalledRef * a0), (a0))
LAZY(flatpak, const char*, flatpak_ref_get_name, (FlatpakRef * a0), (a0))
LAZY(flatpak, gboolean, flatpak_installation_get_is_user, (FlatpakInstallation * a0), (a0))
LAZY(flatpak, gboolean, flatpak_transaction_add_uninstall, (FlatpakTransaction * a0, const char* a1, GError** a2),
     (a0, a1, a2))
LAZY(flatpak, gboolean, flatpak_transaction_run, (FlatpakTransaction * a0, GCancellable* a1, GError** a2), (a0, a1, a2))
LAZY(flatpak, guint64, flatpak_installed_ref_get_installed_size, (FlatpakInstalledRef * a0), (a0))

LAZY(squashfs, int, sqfs_compressor_config_init,
     (sqfs_compressor_config_t * a0, SQFS_COMPRESSOR a1, size_t a2, sqfs_u16 a3), (a0, a1, a2, a3))
LAZY(squashfs, int, sqfs_compressor_create, (const sqfs_compressor_config_t* a0, sqfs_compressor_t** a1), (a0, a1))
LAZY(squashfs, int, sqfs_data_reader_load_fragment_table, (sqfs_data_reader_t * a0, const sqfs_super_t* a1), (a0, a1))
LAZY(squashfs, int, sqfs_meta_reader_read, (sqfs_meta_reader_t * a0, void* a1, size_t a2), (a0, a1, a2))
LAZY(squashfs, int, sqfs_meta_reader_read_inode,
     (sqfs_meta_reader_t * a0, const sqfs_super_t* a1, sqfs_u64 a2, size_t a3, sqfs_inode_generic_t** a4),
     (a0, a1, a2, a3, a4))
LAZY(squashfs, int, sqfs_meta_reader_readdir,
     (sqfs_meta_reader_t * a0, sqfs_readdir_state_t* a1, sqfs_dir_entry_t** a2, sqfs_u32* a3, sqfs_u64* a4),
     (a0, a1, a2, a3, a4))
LAZY(squashfs, int, sqfs_meta_reader_seek, (sqfs_meta_reader_t * a0, sqfs_u64 a1, size_t a2), (a0, a1, a2))
LAZY(squashfs, int, sqfs_readdir_state_init,
     (sqfs_readdir_state_t * a0, const sqfs_super_t* a1, const sqfs_inode_generic_t* a2), (a0, a1, a2))
LAZY(squashfs, sqfs_meta_reader_t*, sqfs_meta_reader_create,
     (sqfs_file_t * a0, sqfs_compressor_t* a1, sqfs_u64 a2, sqfs_u64 a3), (a0, a1, a2, a3))
LAZY(squashfs, int, sqfs_inode_get_file_size, (const sqfs_inode_generic_t* a0, sqfs_u64* a1), (a0, a1))
LAZY(squashfs, int, sqfs_super_read, (sqfs_super_t * a0, sqfs_file_t* a1), (a0, a1))
LAZY(squashfs, sqfs_data_reader_t*, sqfs_data_reader_create,
     (sqfs_file_t * a0, size_t a1, sqfs_compressor_t* a2, sqfs_u32 a3), (a0, a1, a2, a3))
LAZY(squashfs, sqfs_s32, sqfs_data_reader_read,
     (sqfs_data_reader_t * a0, const sqfs_inode_generic_t* a1, sqfs_u64 a2, void* a3, sqfs_u32 a4),
     (a0, a1, a2, a3, a4))
LAZY(squashfs, void, sqfs_free, (void* a0), (a0))

LAZY(plist, const char*, plist_get_string_ptr, (plist_t a0, uint64_t* a1), (a0, a1))
LAZY(plist, plist_t, plist_dict_item_get_key, (plist_t a0), (a0))
LAZY(plist, plist_type, plist_get_node_type, (plist_t a0), (a0))
LAZY(plist, void, plist_dict_new_iter, (plist_t a0, plist_dict_iter* a1), (a0, a1))
LAZY(plist, void, plist_dict_next_item, (plist_t a0, plist_dict_iter a1, char** a2, plist_t* a3), (a0, a1, a2, a3))
LAZY(plist, void, plist_free, (plist_t a0), (a0))
LAZY(plist, void, plist_from_memory, (const char* a0, uint32_t a1, plist_t* a2), (a0, a1, a2))
LAZY(plist, void, plist_get_key_val, (plist_t a0, char** a1), (a0, a1))
LAZY(plist, void, plist_to_xml, (plist_t a0, char** a1, uint32_t* a2), (a0, a1, a2))
LAZY(plist, void, plist_to_xml_free, (char* a0), (a0))

LAZY(sqlite, const unsigned char*, sqlite3_column_text, (sqlite3_stmt * a0, int a1), (a0, a1))
LAZY(sqlite, int, sqlite3_busy_timeout, (sqlite3 * a0, int a1), (a0, a1))
LAZY(sqlite, int, sqlite3_close_v2, (sqlite3 * a0), (a0))
LAZY(sqlite, int, sqlite3_column_bytes, (sqlite3_stmt * a0, int a1), (a0, a1))
LAZY(sqlite, int, sqlite3_finalize, (sqlite3_stmt * a0), (a0))
LAZY(sqlite, int, sqlite3_open_v2, (const char* a0, sqlite3** a1, int a2, const char* a3), (a0, a1, a2, a3))
LAZY(sqlite, int, sqlite3_prepare_v2, (sqlite3 * a0, const char* a1, int a2, sqlite3_stmt** a3, const char** a4),
     (a0, a1, a2, a3, a4))
LAZY(sqlite, int, sqlite3_step, (sqlite3_stmt * a0), (a0))

LAZY(lzma, lzma_ret, lzma_stream_buffer_decode,
     (uint64_t * a0, uint32_t a1, const lzma_allocator* a2, const uint8_t* a3, size_t* a4, size_t a5, uint8_t* a6,
      size_t* a7, size_t a8),
     (a0, a1, a2, a3, a4, a5, a6, a7, a8))

LAZY(zstd, ZSTD_CCtx*, ZSTD_createCCtx, (), ())
LAZY(zstd, ZSTD_DStream*, ZSTD_createDStream, (), ())
LAZY(zstd, const char*, ZSTD_getErrorName, (size_t a0), (a0))
LAZY(zstd, size_t, ZSTD_CCtx_setParameter, (ZSTD_CCtx * a0, ZSTD_cParameter a1, int a2), (a0, a1, a2))
LAZY(zstd, size_t, ZSTD_compress2, (ZSTD_CCtx * a0, void* a1, size_t a2, const void* a3, size_t a4),
     (a0, a1, a2, a3, a4))
LAZY(zstd, size_t, ZSTD_compressBound, (size_t a0), (a0))
LAZY(zstd, size_t, ZSTD_decompress, (void* a0, size_t a1, const void* a2, size_t a3), (a0, a1, a2, a3))
LAZY(zstd, size_t, ZSTD_decompressStream, (ZSTD_DStream * a0, ZSTD_outBuffer* a1, ZSTD_inBuffer* a2), (a0, a1, a2))
LAZY(zstd, size_t, ZSTD_freeCCtx, (ZSTD_CCtx * a0), (a0))
LAZY(zstd, size_t, ZSTD_freeDStream, (ZSTD_DStream * a0), (a0))
LAZY(zstd, size_t, ZSTD_initDStream, (ZSTD_DStream * a0), (a0))
LAZY(zstd, unsigned, ZSTD_isError, (size_t a0), (a0))
LAZY(zstd, unsigned long long, ZSTD_getFrameContentSize, (const void* a0, size_t a1), (a0, a1))

LAZY(zlib, gzFile, gzopen, (const char* a0, const char* a1), (a0, a1))
LAZY(zlib, int, gzclose, (gzFile a0), (a0))
LAZY(zlib, int, gzwrite, (gzFile a0, voidpc a1, unsigned a2), (a0, a1, a2))
LAZY(zlib, int, inflate, (z_streamp a0, int a1), (a0, a1))
LAZY(zlib, int, inflateEnd, (z_streamp a0), (a0))
LAZY(zlib, int, inflateInit2_, (z_streamp a0, int a1, const char* a2, int a3), (a0, a1, a2, a3))
LAZY(zlib, int, inflateReset, (z_streamp a0), (a0))

LAZY(btrfsutil, btrfs_util_error, btrfs_util_create_subvolume_iterator,
     (const char* a0, uint64_t a1, int a2, btrfs_util_subvolume_iterator** a3), (a0, a1, a2, a3))
LAZY(btrfsutil, btrfs_util_error, btrfs_util_delete_subvolume_by_id_fd, (int a0, uint64_t a1), (a0, a1))
LAZY(btrfsutil, btrfs_util_error, btrfs_util_delete_subvolume_fd, (int a0, const char* a1, int a2), (a0, a1, a2))
LAZY(btrfsutil, btrfs_util_error, btrfs_util_get_default_subvolume, (const char* a0, uint64_t* a1), (a0, a1))
LAZY(btrfsutil, btrfs_util_error, btrfs_util_subvolume_id_fd, (int a0, uint64_t* a1), (a0, a1))
LAZY(btrfsutil, btrfs_util_error, btrfs_util_subvolume_info,
     (const char* a0, uint64_t a1, struct btrfs_util_subvolume_info* a2), (a0, a1, a2))
LAZY(btrfsutil, btrfs_util_error, btrfs_util_subvolume_iterator_next_info,
     (btrfs_util_subvolume_iterator * a0, char** a1, struct btrfs_util_subvolume_info* a2), (a0, a1, a2))
LAZY(btrfsutil, const char*, btrfs_util_strerror, (btrfs_util_error a0), (a0))
LAZY(btrfsutil, void, btrfs_util_destroy_subvolume_iterator, (btrfs_util_subvolume_iterator * a0), (a0))

/**
 * @file orba.h
 * @brief The library's C interface, usable from any compiler and any language.
 *
 * Every exported C++ function of the library has a C counterpart here, named `orba_` followed by
 * the C++ name in snake case (`StringUtil::base64Encode` is orba_base64_encode()). Nothing in
 * this interface depends on a C++ standard library, so a host built with another compiler or
 * runtime than the library's, or in another language, calls it safely.
 *
 * Conventions shared by every function:
 * - **Text input** is a NUL-terminated `const char*` in UTF-8. A NULL text is treated as the
 *   empty text.
 * - **Byte input** is a pointer and a length: `(const void* data, size_t size)` or
 *   `(const char* text, size_t size)`. The string functions take all their strings this way,
 *   because they treat strings as bytes and a string may hold NUL bytes. `data` may be NULL when
 *   `size` is 0.
 * - **Returned text** is a NUL-terminated `char*` that the library allocates and the caller
 *   releases with orba_free(). Functions whose result may hold NUL bytes also take a `size_t*`
 *   out-parameter that receives the length without the terminating NUL; it may be NULL when the
 *   caller does not want the length. The terminating NUL is always there.
 * - **Returned lists** are an array of #orba_string entries and the bytes they point to, in ONE
 *   allocation: a single orba_free() of the array releases everything. The entry count goes to
 *   a `size_t*` out-parameter.
 * - **Booleans** are `int`: 0 is false, any other value is true; returned booleans are 0 or 1.
 * - **Failures**: no exception ever leaves a function of this interface and none aborts the
 *   host. A function that fails returns NULL (or 0, or the value its documentation names),
 *   writes a line to the library's diagnostic channel (see orba_set_use_orba_core_log()) and
 *   records the failure as the calling thread's *last error*, which orba_last_error_kind(),
 *   orba_last_error_code() and orba_last_error() read. Every function except orba_free(),
 *   orba_version() and the three last-error readers first clears the thread's last error, so
 *   after any call `orba_last_error_kind() == ORBA_ERROR_NONE` means it succeeded. Allocation
 *   failure is reported the same way, with #ORBA_ERROR_OUT_OF_MEMORY.
 * - **Threads**: the functions may be called from any thread unless their documentation says
 *   otherwise; the last error is per thread.
 *
 * A C++ host that defines `ORBA_USE_C_ABI` (defined automatically for MSVC) before including the
 * C++ headers gets the C++ API compiled in its own code over these functions.
 */
#ifndef ORBA_ORBA_H
#define ORBA_ORBA_H

#include <stddef.h>
#include <stdint.h>

#include "orba/Export.h"

#ifdef __cplusplus
#include "orba/Plugin.h"
extern "C" {
#endif

/* ------------------------------------------------------------------------------------------ */
/** @name Memory, version and errors */
/** @{ */

/**
 * @brief Releases a text, byte string or list that a function of this interface returned.
 *
 * Must be used instead of the host's own `free`, which may belong to another C runtime.
 * A NULL pointer is ignored.
 */
ORBA_API void orba_free(void* pointer);

/**
 * @brief Returns the library's version, "major.minor.patch" (for example "0.1.0").
 *
 * The text is static: never release it. Never fails.
 */
ORBA_API const char* orba_version(void);

/** @brief The calling thread's last call succeeded. */
#define ORBA_ERROR_NONE 0
/** @brief A text was not well-formed UTF-8 or UTF-16; the C++ function throws
 *  `std::range_error` ("bad conversion"). */
#define ORBA_ERROR_RANGE 1
/** @brief A system query failed; the C++ function throws `std::runtime_error`. */
#define ORBA_ERROR_RUNTIME 2
/** @brief A requested length cannot be represented; the C++ function throws
 *  `std::length_error`. */
#define ORBA_ERROR_LENGTH 3
/** @brief A Windows Runtime call failed; orba_last_error_code() holds its HRESULT and the C++
 *  function throws `ORBA::Platform::Misc::hresult_error` or its subclass for that code. */
#define ORBA_ERROR_HRESULT 4
/** @brief Memory ran out; the C++ function throws `std::bad_alloc`. */
#define ORBA_ERROR_OUT_OF_MEMORY 5
/** @brief Any other failure inside the library. */
#define ORBA_ERROR_OTHER 6

/**
 * @brief Returns the kind of the calling thread's last failure: one of the `ORBA_ERROR_`
 * values, #ORBA_ERROR_NONE when the last call succeeded.
 */
ORBA_API int orba_last_error_kind(void);

/**
 * @brief Returns the HRESULT of the calling thread's last failure when its kind is
 * #ORBA_ERROR_HRESULT, and 0 otherwise.
 */
ORBA_API int32_t orba_last_error_code(void);

/**
 * @brief Returns the message of the calling thread's last failure in UTF-8 (the `what()` of the
 * C++ exception, cut to 1023 bytes), or the empty text when the last call succeeded.
 *
 * The text belongs to the library and stays valid until the calling thread's next call of this
 * interface; never release it. Never NULL.
 */
ORBA_API const char* orba_last_error(void);

/** @} */

/* ------------------------------------------------------------------------------------------ */
/** @name Tracker entry points */
/** @{ */

#ifndef __cplusplus
/**
 * @brief The record that createOrbaPluginInterface() returns; the same layout as the C++
 * `ORBA::OrbaPluginInterface`.
 */
struct OrbaPluginInterface {
    /** Runs one command; the same function as
     *  orba_trigger_orba_third_party_tracker_event_callback_func(). */
    void (*triggerEventCallback)(const char* command);
};

/**
 * @brief Returns the library's interface record, the same one on every call, with no side
 * effect. The record is filled when the library loads and never changes.
 */
ORBA_API const struct OrbaPluginInterface* createOrbaPluginInterface(void);
#endif

/**
 * @brief Runs one tracker command on the calling thread.
 *
 * @param command a NUL-terminated UTF-8 JSON text {"event": name, "body": arguments}.
 *
 * With sync delivery (the default) a reporting command posts its request and returns once the
 * service answered or the time-out passed. With background delivery (InitTracker's
 * `"delivery": "background"`) it stores the signed request in the app id's outbox and returns at
 * once; a library thread sends it, and FlushTracker waits for what is stored.
 *
 * Nothing is returned and failures, bad JSON and a NULL command included, are logged while core
 * logging is on (orba_set_use_orba_core_log()). Commands must be delivered one at a time. The same function as the record's `triggerEventCallback`.
 * The tracker reports its failures through its log, never through the last error.
 */
ORBA_API void orba_trigger_orba_third_party_tracker_event_callback_func(const char* command);

/** @} */

/* ------------------------------------------------------------------------------------------ */
/** @name Diagnostic log */
/** @{ */

/**
 * @brief Writes `text` as one line to the debugger output (Windows) or standard error (Linux),
 * when `force` is true or core logging is switched on; otherwise does nothing.
 *
 * No prefix, time stamp or level is added. Text that is not well-formed UTF-8 is written as raw
 * bytes followed by the conversion error. NULL writes an empty line.
 */
ORBA_API void orba_log(const char* text, int force);

/** @brief Returns 1 when core logging is switched on, else 0; 0 when the library is loaded. */
ORBA_API int orba_get_use_orba_core_log(void);

/** @brief Switches core logging on (`use` true) or off. */
ORBA_API void orba_set_use_orba_core_log(int use);

/**
 * @brief Receives one log line: `length` bytes of UTF-8 at `text` (no line break, not
 * NUL-terminated), valid only during the call.
 */
typedef void (*orba_log_callback)(void* user, const char* text, size_t length);

/**
 * @brief Sends every line the library writes to `callback` instead of the debugger output or
 * standard error, from now on; NULL restores the default. The switch and `force` rules of
 * orba_log() still decide which lines are written.
 *
 * The callback runs on the thread that logs: the host's thread during a command, or one of the
 * library's own threads (background delivery, the IPC receiver on Linux). The library holds none
 * of its own locks while calling it, so it may call any function of this interface; lines from
 * several threads may arrive at once. `user` is passed back as given. The callback must not
 * throw or unwind.
 */
ORBA_API void orba_set_log_callback(orba_log_callback callback, void* user);

/** @} */

/* ------------------------------------------------------------------------------------------ */
/** @name Byte strings
 *
 * Every function treats its strings as bytes and never interprets an encoding; case folding
 * and white space are those of the C locale. They fail only when memory runs out, except
 * where a function says otherwise.
 */
/** @{ */

/**
 * @brief One entry of a returned list: `size` bytes at `data`, followed by a NUL not counted in
 * `size`.
 */
typedef struct orba_string {
    const char* data; /**< The bytes; points into the list's own allocation. */
    size_t size;      /**< Their number, without the terminating NUL. */
} orba_string;

/** @brief orba_is_equal() compares bytes exactly. */
#define ORBA_CASE_SENSITIVE 0
/** @brief orba_is_equal() compares with ASCII letters folded. */
#define ORBA_CASE_INSENSITIVE 1
/** @brief orba_change_letter_case() converts to upper case. */
#define ORBA_LETTER_CASE_UPPER 0
/** @brief orba_change_letter_case() converts to lower case. */
#define ORBA_LETTER_CASE_LOWER 1
/** @brief The position orba_replace_range_between_strings() reports when a marker is missing. */
#define ORBA_NPOS UINT64_MAX

/**
 * @brief Returns a copy of the `size` bytes at `text` with every ASCII letter folded to upper
 * case (`letter_case` 0, #ORBA_LETTER_CASE_UPPER) or lower case (any other value); other bytes
 * stay.
 *
 * @param[out] out_size receives the length of the result (always `size`); may be NULL.
 * @return the new text, to release with orba_free(); NULL on failure.
 */
ORBA_API char* orba_change_letter_case(const char* text, size_t size, int letter_case,
                                       size_t* out_size);

/** @brief Returns 1 exactly when `size` is 0 (white space counts as content), else 0. */
ORBA_API int orba_is_empty_string(const char* text, size_t size);

/**
 * @brief Returns 1 when the two byte strings have equal lengths and equal bytes, else 0.
 *
 * ASCII letter case is ignored unless `sensitive` is 0 (#ORBA_CASE_SENSITIVE).
 */
ORBA_API int orba_is_equal(const char* a, size_t a_size, const char* b, size_t b_size,
                           int sensitive);

/** @brief orba_is_equal() with ASCII letter case ignored. */
ORBA_API int orba_is_equal_case_in_sensitive(const char* a, size_t a_size, const char* b,
                                             size_t b_size);

/**
 * @brief Returns the decimal text of `value` as "%lld" writes it.
 * @return the text, to release with orba_free(); NULL on failure.
 */
ORBA_API char* orba_longlong_to_string(long long value);

/**
 * @brief Returns a copy of the `size` bytes at `text` without any occurrence of `character`;
 * the other bytes keep their order.
 *
 * @param[out] out_size receives the length of the result; may be NULL.
 * @return the new text, to release with orba_free(); NULL on failure.
 */
ORBA_API char* orba_remove_character(const char* text, size_t size, char character,
                                     size_t* out_size);

/**
 * @brief Returns a copy of `subject` with every non-overlapping occurrence of `search` replaced
 * by `replacement`, scanning on after each inserted replacement.
 *
 * An empty `search` leaves the copy unchanged.
 * @param[out] out_size receives the length of the result; may be NULL.
 * @return the new text, to release with orba_free(); NULL on failure.
 */
ORBA_API char* orba_replace_all(const char* subject, size_t subject_size, const char* search,
                                size_t search_size, const char* replacement,
                                size_t replacement_size, size_t* out_size);

/**
 * @brief Returns a copy of `text` in which what lies between the first `opening` at or after
 * byte `start` and the next `closing` after it is replaced by `replacement`; both markers stay.
 *
 * @param[out] position receives the position of `closing` in the text as it was, or #ORBA_NPOS
 *             (and the copy is unchanged) when either marker is missing; may be NULL.
 * @param[out] out_size receives the length of the result; may be NULL.
 * @return the new text, to release with orba_free(); NULL on failure (`*position` is then
 *         #ORBA_NPOS).
 */
ORBA_API char* orba_replace_range_between_strings(const char* text, size_t size,
                                                  const char* opening, size_t opening_size,
                                                  const char* closing, size_t closing_size,
                                                  const char* replacement,
                                                  size_t replacement_size, uint64_t start,
                                                  uint64_t* position, size_t* out_size);

/**
 * @brief Splits the `size` bytes at `text` at each `delimiter`.
 *
 * Empty fields at the start and between adjacent delimiters are kept; a delimiter at the very
 * end adds no field. Input without the delimiter, the empty input included, gives one field.
 * @param[out] count receives the number of fields (0 on failure); may be NULL.
 * @return the fields as a list (see #orba_string), released with one orba_free(); never NULL
 *         on success, even for no field; NULL on failure.
 */
ORBA_API orba_string* orba_split_string(const char* text, size_t size, char delimiter,
                                        size_t* count);

/**
 * @brief Returns a copy of the `size` bytes at `text` without leading and trailing white space
 * (space, \\t, \\n, \\v, \\f, \\r).
 *
 * @param[out] out_size receives the length of the result; may be NULL.
 * @return the new text, to release with orba_free(); NULL on failure.
 */
ORBA_API char* orba_trim_string(const char* text, size_t size, size_t* out_size);

/**
 * @brief Returns the standard base64 (RFC 4648) of the `size` bytes at `data`, padded with "="
 * to a multiple of 4 characters.
 * @return the text, to release with orba_free(); NULL on failure.
 */
ORBA_API char* orba_base64_encode(const void* data, size_t size);

/**
 * @brief Decodes base64 leniently: padding is optional, and decoding stops at the first byte
 * outside the standard alphabet ("=", white space, anything else), returning what was decoded
 * before it. Bits that do not fill a byte at the end are dropped.
 *
 * @param[out] out_size receives the number of decoded bytes; may be NULL.
 * @return the bytes, to release with orba_free(); NULL only when memory runs out.
 */
ORBA_API char* orba_base64_decode_string(const char* text, size_t size, size_t* out_size);

/** @brief The same as orba_base64_decode_string(), for the C++ `base64DecodeVector`. */
ORBA_API char* orba_base64_decode_vector(const char* text, size_t size, size_t* out_size);

/**
 * @brief Returns the base64 of the bytes with "-" and "_" in place of "+" and "/", and without
 * padding.
 * @return the text, to release with orba_free(); NULL on failure.
 */
ORBA_API char* orba_base64_url_safe_encode(const void* data, size_t size);

/**
 * @brief Decodes base64 in either alphabet, with or without padding; otherwise as
 * orba_base64_decode_string().
 *
 * @param[out] out_size receives the number of decoded bytes; may be NULL.
 * @return the bytes, to release with orba_free(); NULL only when memory runs out.
 */
ORBA_API char* orba_base64_url_safe_decode(const char* text, size_t size, size_t* out_size);

/**
 * @brief Returns two upper-case hexadecimal digits per byte, high nibble first, no separator.
 * @return the text, to release with orba_free(); NULL on failure.
 */
ORBA_API char* orba_byte_to_hex_str(const void* data, size_t size);

/** @brief The same as orba_byte_to_hex_str(), for the C++ `StrToHexStr`. */
ORBA_API char* orba_str_to_hex_str(const void* data, size_t size);

/**
 * @brief Reads the text two characters at a time, each pair as `strtol` reads it in base 16,
 * and keeps the low 8 bits of each: a last single digit is a byte of its own, and a pair
 * `strtol` cannot read gives 0.
 *
 * @param[out] out_size receives the number of bytes (half the text's length, rounded up); may
 *             be NULL.
 * @return the bytes, to release with orba_free(); NULL only when memory runs out.
 */
ORBA_API char* orba_hex_str_to_str(const char* text, size_t size, size_t* out_size);

/** @brief The same as orba_hex_str_to_str(), for the C++ `hexStrToByte`. */
ORBA_API char* orba_hex_str_to_byte(const char* text, size_t size, size_t* out_size);

/**
 * @brief Returns 68 random lower-case hexadecimal digits in groups of 16, 8, 8, 8 and 24 joined
 * by "-". Not the 36-character textual UUID form: there are no version or variant digits.
 * @return the text, to release with orba_free(); NULL on failure.
 */
ORBA_API char* orba_generate_uuid(void);

/**
 * @brief Returns `count` random bytes from the system's random device, as 2 * `count`
 * lower-case hexadecimal digits.
 * @return the text, to release with orba_free(); NULL on failure, with #ORBA_ERROR_LENGTH when
 *         the text could not be that long.
 */
ORBA_API char* orba_get_random_data(uint64_t count);

/**
 * @brief Returns `count` random characters of the URL-safe base64 alphabet (A-Z a-z 0-9 - _).
 * @return the text, to release with orba_free(); NULL on failure, with #ORBA_ERROR_LENGTH when
 *         the text could not be that long.
 */
ORBA_API char* orba_get_url_safe_random_string(uint64_t count);

/** @} */

/* ------------------------------------------------------------------------------------------ */
/** @name Operating system, processor and memory
 *
 * Every function queries the system afresh on each call and keeps no state.
 */
/** @{ */

/**
 * @brief Returns four decimal numbers joined by ".", for example "10.0.19045.3803".
 *
 * On Windows 10 and later the first three come from the kernel and the fourth is the update
 * build revision (0 when the system does not record one); on older Windows the file version of
 * kernel32.dll. On Linux the leading numbers of the kernel release, padded with 0. The empty
 * text when nothing is readable.
 * @return the text, to release with orba_free(); NULL on failure.
 */
ORBA_API char* orba_get_os_version(void);

/**
 * @brief What this process's tracker did since the library was loaded, as JSON text (release it
 * with orba_free()); NULL with the last error set when it cannot be made.
 *
 * `{"apps": [{"appId", "delivery", "waiting", "waitingBytes", "oldestWaitingSeconds",
 * "delivered", "retried", "dropped": {...}, "lastStatus", "nextRetrySeconds"}]}`, one entry per
 * app id an InitTracker configured; see Misc.h's getTrackerStatus() for each field. It lists the
 * outbox folder of each app id in background delivery: call it now and then, not every frame.
 */
ORBA_API char* orba_tracker_status(void);

/**
 * @brief Returns the one-letter platform code: "W" on Windows, "L" on Linux.
 * @return the text, to release with orba_free(); NULL on failure.
 */
ORBA_API char* orba_get_platform(void);

/**
 * @brief Returns the processor architecture: "x86", "arm", "Intel Itanium - based", "x64",
 * "arm64" or "unknown".
 * @return the text, to release with orba_free(); NULL on failure.
 */
ORBA_API char* orba_get_cpu_type(void);

/**
 * @brief Returns the processor's brand name as the system stores it, blanks included, in UTF-8.
 *
 * "unknown cpu" when the system has no processor description; the empty text when the
 * description has no name.
 * @return the text, to release with orba_free(); NULL on failure, with #ORBA_ERROR_RANGE
 *         ("bad conversion") on Windows for a name that is not valid UTF-16.
 */
ORBA_API char* orba_get_cpu_model(void);

/**
 * @brief Returns the total physical memory that the operating system reports as usable, in
 * bytes; 0 when the system does not answer or on failure.
 */
ORBA_API int64_t orba_get_physically_installed_system_memory(void);

/**
 * @brief Returns the same figure in GiB (units of 2^30 bytes), computed in single precision and
 * rounded to two decimals: 17088659456 bytes give 15.92. 0 on failure.
 */
ORBA_API double orba_get_physically_installed_system_memory_gb(void);

/**
 * @brief Returns the mobile-network country code; always the empty text on a PC.
 * @return the text, to release with orba_free(); NULL on failure.
 */
ORBA_API char* orba_get_mcc(void);

/**
 * @brief Returns the mobile-network network code; always the empty text on a PC.
 * @return the text, to release with orba_free(); NULL on failure.
 */
ORBA_API char* orba_get_mnc(void);

/** @} */

/* ------------------------------------------------------------------------------------------ */
/** @name Device identity, locale and advertising */
/** @{ */

/**
 * @brief Returns the computer's model ("Model" of Win32_ComputerSystem on Windows, the DMI
 * product name on Linux), or the empty text.
 *
 * In the system's ANSI code page on Windows. The first non-empty answer is kept for the life of
 * the process; an empty one is asked again on the next call. On a Windows thread of a
 * single-threaded apartment nothing is queried and the kept value (empty in a fresh process)
 * comes back.
 * @return the text, to release with orba_free(); NULL on failure.
 */
ORBA_API char* orba_get_device_model(void);

/**
 * @brief Returns the names of the graphics adapters in the system's enumeration order, possibly
 * none. In the ANSI code page on Windows. The first non-empty list is kept for the life of the
 * process.
 *
 * @param[out] count receives the number of names (0 on failure); may be NULL.
 * @return the names as a list (see #orba_string), released with one orba_free(); never NULL on
 *         success, even for no name; NULL on failure.
 */
ORBA_API orba_string* orba_get_gpu_model_list(size_t* count);

/**
 * @brief Returns the computer's DNS host name in UTF-8, or the empty text when the system
 * cannot tell.
 * @return the text, to release with orba_free(); NULL on failure, with #ORBA_ERROR_RANGE
 *         ("bad conversion") when the name is not well-formed.
 */
ORBA_API char* orba_get_device_name(void);

/**
 * @brief Returns the name of the user the calling thread runs as, in UTF-8, or the empty text
 * when the system cannot tell.
 * @return the text, to release with orba_free(); NULL on failure, with #ORBA_ERROR_RANGE
 *         ("bad conversion") when the name is not well-formed.
 */
ORBA_API char* orba_get_user_name(void);

/**
 * @brief Returns the language tag of the user's first preferred language in its normalised form
 * ("en-US").
 *
 * On Linux the tag comes from LC_ALL, LC_MESSAGES or LANG, and the C locale gives "en-US".
 * @return the text, to release with orba_free(); NULL on failure, with #ORBA_ERROR_HRESULT and
 *         the code in orba_last_error_code() when the Windows Runtime fails.
 */
ORBA_API char* orba_get_language(void);

/**
 * @brief Returns the two-letter code of the user's home region ("US"); on Linux the territory
 * of the locale, or the empty text.
 * @return the text, to release with orba_free(); NULL on failure, with #ORBA_ERROR_HRESULT and
 *         the code in orba_last_error_code() when the Windows Runtime fails.
 */
ORBA_API char* orba_get_country(void);

/**
 * @brief Returns the user's advertising identifier, or the empty text when the user has switched
 * it off (and always on Linux, which has none).
 * @return the text, to release with orba_free(); NULL on failure, with #ORBA_ERROR_HRESULT and
 *         the code in orba_last_error_code() when the Windows Runtime fails.
 */
ORBA_API char* orba_get_advertising_id(void);

/**
 * @brief Returns 1 exactly when orba_get_advertising_id() would return the empty text, else 0.
 *
 * Fails as orba_get_advertising_id() does and then returns 0: check orba_last_error_kind()
 * to tell a failure from "not limited".
 */
ORBA_API int orba_get_is_limit_ad_tracking(void);

/** @} */

/* ------------------------------------------------------------------------------------------ */
/** @name Network, processes and executable version */
/** @{ */

/**
 * @brief Returns, in plain decimal, the first port at or above `start` that no IPv4 TCP socket
 * on the machine uses as its local port, whatever its state.
 *
 * Prints "\\tNumber of entries: N\\n" to standard output. Nothing is reserved: another process
 * may take the port before the caller binds it.
 * @return the text, to release with orba_free(); NULL on failure, with #ORBA_ERROR_RUNTIME and
 *         the message "Error allocating memory\\n" or "\\tGetTcpTable failed with <code>\\n" when
 *         the table cannot be read, and "not found usable port" when every port from `start` to
 *         65535 is taken.
 */
ORBA_API char* orba_get_available_tcp_port(uint16_t start);

/**
 * @brief Returns the id of the first running process whose executable file name (with
 * extension, without directory) equals `executable_name` with ASCII letter case ignored, or 0
 * when none does.
 *
 * Returns 0 on failure too, with #ORBA_ERROR_RANGE ("bad conversion") when `executable_name` is
 * not well-formed UTF-8.
 */
ORBA_API int64_t orba_get_processor_id(const char* executable_name);

/**
 * @brief Returns the product version of the process's executable as "a.b.c.d", or the empty
 * text when it carries no readable version resource (always on Linux).
 * @return the text, to release with orba_free(); NULL on failure.
 */
ORBA_API char* orba_get_app_version(void);

/** @} */

/* ------------------------------------------------------------------------------------------ */
/** @name Main window and the text channel between processes */
/** @{ */

/**
 * @brief Returns the client-area width, in pixels, of the calling process's main window: the
 * first visible top-level window without an owner, in the system's window order.
 *
 * 0 when the process has no such window, which is always the case on Linux, and on failure.
 */
ORBA_API uint32_t orba_get_window_width(void);

/**
 * @brief Returns the client-area height, in pixels, of the main window chosen as by
 * orba_get_window_width(), or 0 when there is none. A minimised window has a height and width
 * of 0.
 */
ORBA_API uint32_t orba_get_window_height(void);

/**
 * @brief Returns 1 when the main window's client area is wider than high; 0 for a square or
 * empty client area, when the process has no main window, and on failure.
 */
ORBA_API int orba_get_is_landscape_window(void);

/**
 * @brief Receives one text sent by orba_ipc_send().
 *
 * @param text the bytes the sender sent before its first NUL, NUL-terminated; valid only during
 *             the call.
 * @param user the `user` pointer given to orba_ipc_open().
 *
 * Must return normally: on a C++ host it must not let an exception escape.
 */
typedef void (*orba_ipc_callback)(const char* text, void* user);

/**
 * @brief Releases the `user` pointer of orba_ipc_open() once the library no longer needs it.
 */
typedef void (*orba_ipc_release)(void* user);

/**
 * @brief Makes the process a receiver of the texts that orba_ipc_send() sends to it.
 *
 * Only the first call that succeeds installs the receiver and keeps `callback` and `user` (a
 * NULL callback installs a receiver that drops every text); later calls change nothing. Writes a
 * fixed debug line on every call that tries to install.
 *
 * On Windows the receiver watches the calling thread: a WM_COPYDATA sent to any of its windows
 * hands its text to the callback on that thread, while the thread dispatches messages and before
 * the window procedure, which still gets the message. Call it on the thread that owns the
 * windows. On Linux a thread of the library receives the texts and runs the callback.
 *
 * @param release when not NULL, called with `user` once the library no longer needs it: before
 *                this call returns when the callback is not kept (a NULL `callback` included),
 *                otherwise when the library is unloaded.
 */
ORBA_API void orba_ipc_open(orba_ipc_callback callback, void* user, orba_ipc_release release);

/**
 * @brief Sends `message` to the process whose id `process_id` holds as a decimal number
 * (leading white space and a sign allowed, trailing text ignored).
 *
 * A message of 10000 bytes or more is not sent. A text that holds no number, or a number beyond
 * 32 bits, writes two debug lines and sends nothing. An unknown process, or one without a
 * receiver, gets nothing and nothing is reported. Blocks until the receiver has taken the text on
 * Windows, and until it is queued for the receiver on Linux.
 */
ORBA_API void orba_ipc_send(const char* process_id, const char* message);

/** @} */

#ifdef __cplusplus
}  // extern "C"
#endif

#endif /* ORBA_ORBA_H */

// The part of the classic Firebird client API (the ISC calls exported by
// fbclient) that this program uses, declared here so that the library can be
// loaded at run time without the vendor headers at build time. Types, sizes
// and values are those of the public API on 64-bit Linux.
#pragma once

#include <cstdint>

namespace qn::fb {

// ---- basic types ------------------------------------------------------------
using ISC_STATUS = intptr_t;
inline constexpr int kStatusLength = 20;
using ISC_STATUS_ARRAY = ISC_STATUS[kStatusLength];
using ISC_LONG = int32_t;
using ISC_ULONG = uint32_t;
using ISC_SHORT = int16_t;
using ISC_USHORT = uint16_t;
using ISC_INT64 = int64_t;
using ISC_DATE = int32_t;   // days since 17 November 1858
using ISC_TIME = uint32_t;  // ten-thousandths of a second since midnight
struct ISC_TIMESTAMP {
  ISC_DATE timestamp_date;
  ISC_TIME timestamp_time;
};
struct ISC_QUAD {
  ISC_LONG high;
  ISC_ULONG low;
};
// Handles are 32-bit numbers on 64-bit platforms; 0 is "no handle".
using FB_API_HANDLE = uint32_t;
using isc_db_handle = FB_API_HANDLE;
using isc_tr_handle = FB_API_HANDLE;
using isc_stmt_handle = FB_API_HANDLE;
using isc_svc_handle = FB_API_HANDLE;
using isc_blob_handle = FB_API_HANDLE;
using isc_resv_handle = ISC_LONG;

// ---- SQL descriptor area ----------------------------------------------------
struct XSQLVAR {
  ISC_SHORT sqltype;
  ISC_SHORT sqlscale;
  ISC_SHORT sqlsubtype;
  ISC_SHORT sqllen;
  char* sqldata;
  ISC_SHORT* sqlind;
  ISC_SHORT sqlname_length;
  char sqlname[32];
  ISC_SHORT relname_length;
  char relname[32];
  ISC_SHORT ownname_length;
  char ownname[32];
  ISC_SHORT aliasname_length;
  char aliasname[32];
};
struct XSQLDA {
  ISC_SHORT version;
  char sqldaid[8];
  ISC_LONG sqldabc;
  ISC_SHORT sqln;
  ISC_SHORT sqld;
  XSQLVAR sqlvar[1];
};
inline constexpr ISC_SHORT kSqldaVersion1 = 1;
inline constexpr unsigned XsqldaLength(int n) { return sizeof(XSQLDA) + (n - 1) * sizeof(XSQLVAR); }

// SQL types; the low bit set means "may be NULL" (sqlind is used).
inline constexpr int SQL_VARYING = 448;
inline constexpr int SQL_TEXT = 452;
inline constexpr int SQL_DOUBLE = 480;
inline constexpr int SQL_FLOAT = 482;
inline constexpr int SQL_LONG = 496;
inline constexpr int SQL_SHORT = 500;
inline constexpr int SQL_TIMESTAMP = 510;
inline constexpr int SQL_BLOB = 520;
inline constexpr int SQL_D_FLOAT = 530;
inline constexpr int SQL_ARRAY = 540;
inline constexpr int SQL_QUAD = 550;
inline constexpr int SQL_TYPE_TIME = 560;
inline constexpr int SQL_TYPE_DATE = 570;
inline constexpr int SQL_INT64 = 580;
inline constexpr int SQL_BOOLEAN = 32764;
inline constexpr int SQL_NULL = 32766;

inline constexpr unsigned short kSqlDialect3 = 3;
inline constexpr unsigned short DSQL_close = 1;
inline constexpr unsigned short DSQL_drop = 2;

// ---- status vector ------------------------------------------------------------
inline constexpr ISC_STATUS isc_arg_end = 0;
inline constexpr ISC_STATUS isc_arg_gds = 1;
inline constexpr ISC_STATUS isc_arg_string = 2;
inline constexpr ISC_STATUS isc_arg_cstring = 3;
inline constexpr ISC_STATUS isc_arg_number = 4;
inline constexpr ISC_STATUS isc_arg_interpreted = 5;
inline constexpr ISC_STATUS isc_arg_warning = 18;
inline constexpr ISC_STATUS isc_arg_sql_state = 19;

// Status codes the program tells apart.
inline constexpr long isc_io_error = 335544344L;
inline constexpr long isc_login = 335544472L;
inline constexpr long isc_segment = 335544366L;  // a segment did not fit the buffer
inline constexpr long isc_segstr_eof = 335544367L;

// ---- database parameter block -----------------------------------------------
inline constexpr char isc_dpb_version1 = 1;
inline constexpr char isc_dpb_user_name = 28;
inline constexpr char isc_dpb_password = 29;
inline constexpr char isc_dpb_lc_ctype = 48;
inline constexpr char isc_dpb_sql_dialect = 63;
inline constexpr char isc_dpb_force_write = 24;
inline constexpr char isc_dpb_utf8_filename = 77;
inline constexpr char isc_dpb_config = 87;

// ---- transaction parameter block --------------------------------------------
inline constexpr char isc_tpb_version3 = 3;
inline constexpr char isc_tpb_concurrency = 2;
inline constexpr char isc_tpb_wait = 6;
inline constexpr char isc_tpb_nowait = 7;
inline constexpr char isc_tpb_read = 8;
inline constexpr char isc_tpb_write = 9;
inline constexpr char isc_tpb_read_committed = 15;
inline constexpr char isc_tpb_rec_version = 17;
inline constexpr char isc_tpb_no_auto_undo = 20;

// ---- information items --------------------------------------------------------
inline constexpr char isc_info_end = 1;
inline constexpr char isc_info_truncated = 2;
inline constexpr char isc_info_error = 3;
inline constexpr char isc_info_ods_version = 32;
inline constexpr char isc_info_forced_writes = 52;
inline constexpr char isc_info_ods_minor_version = 33;
inline constexpr char isc_info_sql_stmt_type = 21;
inline constexpr int isc_info_sql_stmt_select = 1;
inline constexpr int isc_info_sql_stmt_ddl = 5;
inline constexpr int isc_info_sql_stmt_exec_procedure = 8;
inline constexpr int isc_info_sql_stmt_commit = 10;
inline constexpr int isc_info_sql_stmt_rollback = 11;
inline constexpr int isc_info_sql_stmt_select_for_upd = 12;

// ---- services -------------------------------------------------------------------
inline constexpr char isc_spb_version = 2;  // the attach block begins with isc_spb_version, isc_spb_current_version
inline constexpr char isc_spb_current_version = 2;
inline constexpr char isc_spb_user_name = 28;
inline constexpr char isc_spb_password = 29;
inline constexpr char isc_action_svc_backup = 1;
inline constexpr char isc_action_svc_restore = 2;
inline constexpr char isc_spb_dbname = 106;
inline constexpr char isc_spb_verbose = 107;
inline constexpr char isc_spb_options = 108;
inline constexpr char isc_spb_bkp_file = 5;
inline constexpr uint32_t isc_spb_bkp_no_garbage_collect = 0x08;
inline constexpr char isc_spb_res_buffers = 9;
inline constexpr char isc_spb_res_page_size = 10;
inline constexpr char isc_spb_res_fix_fss_metadata = 14;
inline constexpr uint32_t isc_spb_res_replace = 0x1000;
inline constexpr uint32_t isc_spb_res_create = 0x2000;
inline constexpr uint32_t isc_spb_res_use_all_space = 0x4000;
inline constexpr char isc_info_svc_line = 62;
inline constexpr char isc_info_svc_timeout = 64;

// One database of a transaction start (isc_start_multiple). The length is
// read by the library as an int; the field is pointer-wide so that the
// layout is the same whichever width the reader assumes (little endian).
struct TqnTeb {
  isc_db_handle* database;
  intptr_t tpbLength;
  const char* tpb;
};

// ---- blobs ------------------------------------------------------------------------
inline constexpr int kBlobSegmentMax = 32767;

// ---- entry points -------------------------------------------------------------------
extern "C" {
using isc_attach_database_t = ISC_STATUS (*)(ISC_STATUS*, short, const char*, isc_db_handle*, short, const char*);
using isc_detach_database_t = ISC_STATUS (*)(ISC_STATUS*, isc_db_handle*);
using isc_drop_database_t = ISC_STATUS (*)(ISC_STATUS*, isc_db_handle*);
using isc_database_info_t = ISC_STATUS (*)(ISC_STATUS*, isc_db_handle*, short, const char*, short, char*);
using isc_start_multiple_t = ISC_STATUS (*)(ISC_STATUS*, isc_tr_handle*, short, void*);
using isc_commit_transaction_t = ISC_STATUS (*)(ISC_STATUS*, isc_tr_handle*);
using isc_rollback_transaction_t = ISC_STATUS (*)(ISC_STATUS*, isc_tr_handle*);
using isc_dsql_execute_immediate_t = ISC_STATUS (*)(ISC_STATUS*, isc_db_handle*, isc_tr_handle*, unsigned short,
                                                    const char*, unsigned short, const XSQLDA*);
using isc_dsql_allocate_statement_t = ISC_STATUS (*)(ISC_STATUS*, isc_db_handle*, isc_stmt_handle*);
using isc_dsql_prepare_t = ISC_STATUS (*)(ISC_STATUS*, isc_tr_handle*, isc_stmt_handle*, unsigned short, const char*,
                                          unsigned short, XSQLDA*);
using isc_dsql_describe_t = ISC_STATUS (*)(ISC_STATUS*, isc_stmt_handle*, unsigned short, XSQLDA*);
using isc_dsql_execute_t = ISC_STATUS (*)(ISC_STATUS*, isc_tr_handle*, isc_stmt_handle*, unsigned short, const XSQLDA*);
using isc_dsql_execute2_t = ISC_STATUS (*)(ISC_STATUS*, isc_tr_handle*, isc_stmt_handle*, unsigned short, const XSQLDA*,
                                           const XSQLDA*);
using isc_dsql_fetch_t = ISC_STATUS (*)(ISC_STATUS*, isc_stmt_handle*, unsigned short, const XSQLDA*);
using isc_dsql_free_statement_t = ISC_STATUS (*)(ISC_STATUS*, isc_stmt_handle*, unsigned short);
using isc_dsql_sql_info_t = ISC_STATUS (*)(ISC_STATUS*, isc_stmt_handle*, short, const char*, short, char*);
using fb_interpret_t = ISC_LONG (*)(char*, unsigned int, const ISC_STATUS**);
using isc_interprete_t = ISC_LONG (*)(char*, ISC_STATUS**);
using isc_sqlcode_t = ISC_LONG (*)(const ISC_STATUS*);
using isc_service_attach_t = ISC_STATUS (*)(ISC_STATUS*, unsigned short, const char*, isc_svc_handle*, unsigned short,
                                            const char*);
using isc_service_detach_t = ISC_STATUS (*)(ISC_STATUS*, isc_svc_handle*);
using isc_service_start_t = ISC_STATUS (*)(ISC_STATUS*, isc_svc_handle*, isc_resv_handle*, unsigned short, const char*);
using isc_service_query_t = ISC_STATUS (*)(ISC_STATUS*, isc_svc_handle*, isc_resv_handle*, unsigned short, const char*,
                                           unsigned short, const char*, unsigned short, char*);
using isc_get_client_version_t = void (*)(char*);
using FB_SHUTDOWN_CALLBACK = int (*)(const int reason, const int mask, void* arg);
using fb_shutdown_callback_t = ISC_STATUS (*)(ISC_STATUS*, FB_SHUTDOWN_CALLBACK, const int mask, void* arg);
inline constexpr int fb_shut_confirmation = 1;
inline constexpr int fb_shutrsn_signal = -5;
using isc_get_client_major_version_t = int (*)();
using isc_get_client_minor_version_t = int (*)();
using isc_create_blob2_t = ISC_STATUS (*)(ISC_STATUS*, isc_db_handle*, isc_tr_handle*, isc_blob_handle*, ISC_QUAD*,
                                          short, const char*);
using isc_open_blob2_t = ISC_STATUS (*)(ISC_STATUS*, isc_db_handle*, isc_tr_handle*, isc_blob_handle*, ISC_QUAD*,
                                        ISC_USHORT, const unsigned char*);
using isc_put_segment_t = ISC_STATUS (*)(ISC_STATUS*, isc_blob_handle*, unsigned short, const char*);
using isc_get_segment_t = ISC_STATUS (*)(ISC_STATUS*, isc_blob_handle*, unsigned short*, unsigned short, char*);
using isc_close_blob_t = ISC_STATUS (*)(ISC_STATUS*, isc_blob_handle*);
using isc_cancel_blob_t = ISC_STATUS (*)(ISC_STATUS*, isc_blob_handle*);
}

// The entry points of one loaded client library. Every pointer marked
// "optional" may be null; all others are present once the table is filled.
struct TqnFbApi {
  isc_attach_database_t isc_attach_database = nullptr;
  isc_detach_database_t isc_detach_database = nullptr;
  isc_drop_database_t isc_drop_database = nullptr;
  isc_database_info_t isc_database_info = nullptr;
  isc_start_multiple_t isc_start_multiple = nullptr;
  isc_commit_transaction_t isc_commit_transaction = nullptr;
  isc_rollback_transaction_t isc_rollback_transaction = nullptr;
  isc_dsql_execute_immediate_t isc_dsql_execute_immediate = nullptr;
  isc_dsql_allocate_statement_t isc_dsql_allocate_statement = nullptr;
  isc_dsql_prepare_t isc_dsql_prepare = nullptr;
  isc_dsql_describe_t isc_dsql_describe = nullptr;
  isc_dsql_describe_t isc_dsql_describe_bind = nullptr;
  isc_dsql_execute_t isc_dsql_execute = nullptr;
  isc_dsql_execute2_t isc_dsql_execute2 = nullptr;
  isc_dsql_fetch_t isc_dsql_fetch = nullptr;
  isc_dsql_free_statement_t isc_dsql_free_statement = nullptr;
  isc_dsql_sql_info_t isc_dsql_sql_info = nullptr;
  fb_interpret_t fb_interpret = nullptr;      // optional: isc_interprete stands in
  isc_interprete_t isc_interprete = nullptr;  // optional: fb_interpret preferred
  isc_sqlcode_t isc_sqlcode = nullptr;
  isc_service_attach_t isc_service_attach = nullptr;
  isc_service_detach_t isc_service_detach = nullptr;
  isc_service_start_t isc_service_start = nullptr;
  isc_service_query_t isc_service_query = nullptr;
  isc_get_client_version_t isc_get_client_version = nullptr;              // optional
  fb_shutdown_callback_t fb_shutdown_callback = nullptr;                  // optional
  isc_get_client_major_version_t isc_get_client_major_version = nullptr;  // optional
  isc_get_client_minor_version_t isc_get_client_minor_version = nullptr;  // optional
  isc_create_blob2_t isc_create_blob2 = nullptr;
  isc_open_blob2_t isc_open_blob2 = nullptr;
  isc_put_segment_t isc_put_segment = nullptr;
  isc_get_segment_t isc_get_segment = nullptr;
  isc_close_blob_t isc_close_blob = nullptr;
  isc_cancel_blob_t isc_cancel_blob = nullptr;
};

}  // namespace qn::fb

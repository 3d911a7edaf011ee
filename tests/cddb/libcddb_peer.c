/* A real CDDB client for the tests: libcddb reads an entry from a cache folder, or queries
 * and reads over HTTP, and prints what it got as key=value lines.
 *   libcddb_peer cache <dir> <category> <discid>
 *   libcddb_peer http <port> <length-seconds> <offset>...
 */
#include <cddb/cddb.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static const char* text(const char* s) {
  return s ? s : "";
}

static void print_disc(cddb_disc_t* disc) {
  printf("category=%s\n", cddb_disc_get_category_str(disc));
  printf("discid=%08x\n", cddb_disc_get_discid(disc));
  printf("artist=%s\n", text(cddb_disc_get_artist(disc)));
  printf("title=%s\n", text(cddb_disc_get_title(disc)));
  printf("year=%u\n", cddb_disc_get_year(disc));
  printf("genre=%s\n", text(cddb_disc_get_genre(disc)));
  printf("length=%u\n", cddb_disc_get_length(disc));
  printf("ext=%s\n", text(cddb_disc_get_ext_data(disc)));
  printf("tracks=%d\n", cddb_disc_get_track_count(disc));
  for (cddb_track_t* t = cddb_disc_get_track_first(disc); t; t = cddb_disc_get_track_next(disc))
    printf("track=%d|%s|%d\n", cddb_track_get_number(t), text(cddb_track_get_title(t)),
           cddb_track_get_frame_offset(t));
}

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  libcddb_init();
  cddb_conn_t* conn = cddb_new();
  cddb_disc_t* disc = cddb_disc_new();
  if (!conn || !disc) return 2;
  int rc = 0;
  if (strcmp(argv[1], "cache") == 0 && argc == 5) {
    cddb_cache_set_dir(conn, argv[2]);
    cddb_cache_only(conn);
    cddb_disc_set_category_str(disc, argv[3]);
    cddb_disc_set_discid(disc, (unsigned)strtoul(argv[4], NULL, 16));
    if (cddb_read(conn, disc) != 1) {
      printf("error=%s\n", cddb_error_str(cddb_errno(conn)));
      rc = 1;
    } else {
      print_disc(disc);
    }
  } else if (strcmp(argv[1], "http") == 0 && argc >= 5) {
    cddb_cache_disable(conn);
    cddb_set_server_name(conn, "127.0.0.1");
    cddb_set_server_port(conn, atoi(argv[2]));
    cddb_http_enable(conn);
    cddb_set_http_path_query(conn, "/~cddb/cddb.cgi");
    cddb_set_email_address(conn, "tester@localhost");
    cddb_disc_set_length(disc, (unsigned)atoi(argv[3]));
    for (int i = 4; i < argc; ++i) {
      cddb_track_t* t = cddb_track_new();
      cddb_track_set_frame_offset(t, atoi(argv[i]));
      cddb_disc_add_track(disc, t);
    }
    cddb_disc_calc_discid(disc);
    int matches = cddb_query(conn, disc);
    printf("matches=%d\n", matches);
    if (matches <= 0) {
      printf("error=%s\n", cddb_error_str(cddb_errno(conn)));
      rc = matches < 0 ? 1 : 0;
    } else {
      char first_category[64];
      unsigned first_id = cddb_disc_get_discid(disc);
      snprintf(first_category, sizeof first_category, "%s", cddb_disc_get_category_str(disc));
      for (int m = 0; m < matches; ++m) {
        printf("match=%s %08x\n", cddb_disc_get_category_str(disc), cddb_disc_get_discid(disc));
        if (m + 1 < matches) cddb_query_next(conn, disc);
      }
      cddb_disc_set_category_str(disc, first_category);
      cddb_disc_set_discid(disc, first_id);
      if (cddb_read(conn, disc) != 1) {
        printf("error=%s\n", cddb_error_str(cddb_errno(conn)));
        rc = 1;
      } else {
        print_disc(disc);
      }
    }
  } else {
    rc = 2;
  }
  cddb_disc_destroy(disc);
  cddb_destroy(conn);
  libcddb_shutdown();
  return rc;
}

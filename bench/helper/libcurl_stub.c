/* A stand-in for libcurl.so.4 with none of its dependencies, for measuring
   only: with it on LD_LIBRARY_PATH, commands that never download (albums,
   list, usage errors) show what they would cost if libcurl and its tree of
   TLS, Kerberos, LDAP and SSH libraries were loaded only on demand. Every
   call fails, so never use it for thumbs or export of offloaded assets. */
void *curl_easy_init(void) { return 0; }
int curl_easy_setopt(void *h, int o, ...) { (void)h; (void)o; return 1; }
int curl_easy_perform(void *h) { (void)h; return 1; }
void curl_easy_cleanup(void *h) { (void)h; }
int curl_easy_getinfo(void *h, int i, ...) { (void)h; (void)i; return 1; }
const char *curl_easy_strerror(int c) { (void)c; return "stub"; }
int curl_global_init(long f) { (void)f; return 0; }

/* Loaded into wrk (LD_PRELOAD) by bench/https_load.sh. wrk keeps one TLS object per connection
   slot and clears it for the next connection, which keeps the session and resumes it; the
   session is forgotten first, so every connection is a full handshake, against every server
   alike. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <openssl/ssl.h>

int SSL_clear(SSL *s) {
    static int (*real)(SSL *) = 0;
    if (!real)
        real = (int (*)(SSL *))dlsym(RTLD_NEXT, "SSL_clear");
    SSL_set_session(s, NULL);
    return real(s);
}

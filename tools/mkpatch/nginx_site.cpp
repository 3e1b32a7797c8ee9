#include "tools/mkpatch/nginx_site.h"

#include "tools/common/tool_support.h"

namespace fs = std::filesystem;

namespace tools {

std::string nginxSiteText(const fs::path& serverFolder) {
    const std::string root = serverFolder.generic_string();
    return R"(# Written by talvora-mkpatch publish; publish rewrites it, so edit a copy of your own:
#   cp )" + root +
           R"(/nginx-site.conf /etc/nginx/sites-available/talvora
# Replace the server name and the certificate paths. Every mirror, and a CDN's origin, serves the
# same folder with these rules: a cache never holds an old patch list, and a published archive
# never changes, so caches (and players' machines) may keep it for good.
server {
    listen 443 ssl;
    server_name patch.example.org;
    ssl_certificate     /etc/ssl/patch.example.org.crt;
    ssl_certificate_key /etc/ssl/patch.example.org.key;

    root ")" +
           root + R"(";
    types { }
    default_type application/octet-stream;
    autoindex off;
    etag on;

    # What is current: the patch list, and the manifest's signature where one is published.
    # A cache that kept them would hold players at an old patch.
    location = /patch/patch.hpl {
        expires off;
        add_header Cache-Control "no-store" always;
    }
    location = /patch/manifest.sig {
        expires off;
        add_header Cache-Control "no-store" always;
    }
    # Numbered archives: publish refuses to replace one with other bytes, so they never change.
    location ~ "^/patch/[0-9]+\.rar$" {
        add_header Cache-Control "public, max-age=31536000, immutable" always;
    }
    # New launcher and client programs keep their names from version to version: a cache may keep
    # them but asks this server (If-None-Match / If-Modified-Since) before every use.
    location ~ "^/patch/(launcher|Orvant)\.exe$" {
        add_header Cache-Control "no-cache" always;
    }
    # Nothing else is served, publish's half-written "*.new" files included.
    location / {
        return 404;
    }
}
)";
}

bool writeNginxSite(const fs::path& serverFolder) {
    const fs::path target = serverFolder / NginxSiteFileName;
    fs::path temp = target;
    temp += ".new";
    if (!writeFile(temp, nginxSiteText(serverFolder))) return false;
    std::error_code ec;
    fs::rename(temp, target, ec);
    return !ec;
}

}  // namespace tools

#!/usr/bin/env bash
# A streaming server for the tests and the benchmark: nginx with its RTMP
# module, on loopback, started in the foreground of this script's caller's
# choosing. It takes pushed RTMP streams on application "live", writes HLS
# for viewers, and asks itself (on_publish) whether a stream name may be
# published: a name starting with "bad" is answered 403, any other is let in.
# A publisher idle for 8 s is dropped.
#
#   stream-server.sh DIR RTMP_PORT HTTP_PORT
#
# writes DIR/nginx.conf and runs nginx in the foreground (exec), so that the
# caller holds its process id and can kill and restart it. Playlists are at
# http://127.0.0.1:HTTP_PORT/hls/<name>.m3u8.
set -eu
dir=$1 rtmp_port=$2 http_port=$3
mkdir -p "$dir/hls" "$dir/logs" "$dir/tmp"
cat >"$dir/nginx.conf" <<CONF
load_module /usr/lib/nginx/modules/ngx_rtmp_module.so;
daemon off;
master_process off;
worker_processes 1;
pid $dir/nginx.pid;
error_log $dir/logs/error.log info;
events { worker_connections 1024; }
rtmp {
  server {
    listen 127.0.0.1:$rtmp_port;
    chunk_size 4096;
    # A publisher that sends nothing for this long is dropped, as services
    # do with an idle stream.
    drop_idle_publisher 8s;
    application live {
      live on;
      record off;
      hls on;
      hls_path $dir/hls;
      hls_fragment 1s;
      hls_playlist_length 10s;
      notify_method get;
      on_publish http://127.0.0.1:$http_port/publish;
    }
  }
}
http {
  access_log $dir/logs/access.log;
  client_body_temp_path $dir/tmp;
  proxy_temp_path $dir/tmp;
  fastcgi_temp_path $dir/tmp;
  uwsgi_temp_path $dir/tmp;
  scgi_temp_path $dir/tmp;
  types { application/vnd.apple.mpegurl m3u8; video/mp2t ts; }
  server {
    listen 127.0.0.1:$http_port;
    location /hls/ { alias $dir/hls/; add_header Cache-Control no-cache; }
    location = /publish {
      if (\$arg_name ~ ^bad) { return 403; }
      return 204;
    }
  }
}
CONF
exec nginx -p "$dir" -c "$dir/nginx.conf"

# The two assemblers alone, for build pipelines: an image that holds nothing
# but the static qorb12 and qorb11 (no shell, no libraries). Build the
# programs first, then the image from the folder that holds them:
#   scripts/build-static.sh
#   podman build -t qorb -f Dockerfile build-static/bin      (or docker build)
#   podman run --rm -v "$PWD":/src qorb qorb12 -l prog.asm
FROM scratch
LABEL org.opencontainers.image.title="qorb12 and qorb11, 68HC12/68HC11 cross assemblers"
COPY qorb12 qorb11 /usr/local/bin/
ENV PATH=/usr/local/bin
# Sources are mounted here; the objects and listings are written beside them.
WORKDIR /src
CMD ["qorb12"]

// Keeps the Nebla page working without a network. Each build of the page
// stamps this file with a hash of its files, so a new build is a new
// worker: it caches that build's files whole, under a name of its own,
// before it takes over and removes the caches of this page's earlier
// builds, and nothing else on the host. Requests go to the network first,
// past the browser's HTTP cache (so the files of two builds never meet),
// and to this build's cache when the network fails.
'use strict';
const BUILD = '@NEBLA_BUILD@';
const FILES = '@NEBLA_FILES@'.split(' ');
// Several pages may share a host: this page's caches are the ones named
// with its own scope.
const PREFIX = 'nebla-page ' + new URL(self.registration.scope).pathname + ' ';
const CACHE = PREFIX + BUILD;

// A file that cannot be fetched fails the installation: the worker in
// place keeps serving its own complete build.
self.addEventListener('install', (event) => {
  event.waitUntil(caches.open(CACHE)
    .then((cache) => cache.addAll(FILES.map((file) => new Request(file, { cache: 'no-cache' }))))
    .then(() => self.skipWaiting()));
});

self.addEventListener('activate', (event) => {
  const earlier = (name) => name.startsWith(PREFIX) && name !== CACHE;
  event.waitUntil(caches.keys()
    .then((names) => Promise.all(names.filter(earlier).map((name) => caches.delete(name))))
    .then(() => self.clients.claim()));
});

// Only this page's own files; the query and fragment do not matter. The
// cache is written at installation only, so it always holds one build.
self.addEventListener('fetch', (event) => {
  const request = event.request;
  if (request.method !== 'GET' || new URL(request.url).origin !== self.location.origin) return;
  event.respondWith(fetch(request, { cache: 'no-cache' })
    .catch(() => caches.open(CACHE)
      .then((cache) => cache.match(request, { ignoreSearch: true }))
      .then((cached) => cached || Response.error())));
});

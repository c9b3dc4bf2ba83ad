// Keeps the Nebla page working without a network: its files are cached at
// installation, and every request goes to the network first (so a new
// version shows as soon as it is published) and to the cache when the
// network fails.
'use strict';
const CACHE = 'nebla-page-1';
const FILES = ['./', 'index.html', 'nebla.js', 'nebla.wasm', 'manifest.webmanifest',
               'icons/icon-192.png', 'icons/icon-512.png',
               'nebla-threads.js', 'nebla-threads.wasm', 'nebla-threads.worker.js'];

// A file the host lacks (a page built without threads) is left out, not fatal.
self.addEventListener('install', (event) => {
  event.waitUntil(caches.open(CACHE)
    .then((cache) => Promise.all(FILES.map((file) => cache.add(file).catch(() => {}))))
    .then(() => self.skipWaiting()));
});

self.addEventListener('activate', (event) => {
  event.waitUntil(caches.keys()
    .then((names) => Promise.all(names.filter((name) => name !== CACHE).map((name) => caches.delete(name))))
    .then(() => self.clients.claim()));
});

// Only this page's own files; the query and fragment do not matter.
self.addEventListener('fetch', (event) => {
  const request = event.request;
  if (request.method !== 'GET' || new URL(request.url).origin !== self.location.origin) return;
  event.respondWith(fetch(request).then((response) => {
    if (response.ok) {
      const copy = response.clone();
      caches.open(CACHE).then((cache) => cache.put(request, copy));
    }
    return response;
  }).catch(() => caches.match(request, { ignoreSearch: true })
    .then((cached) => cached || Response.error())));
});

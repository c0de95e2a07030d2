// Keeps the page's files for play without a network. The build names the cache after their
// contents: a new build installs a new cache, and the old one goes once it takes over.
'use strict';
const CACHE = 'tarmik-@VERSION@';
const FILES = ['./', @FILES@];

self.addEventListener('install', (e) => {
  e.waitUntil(caches.open(CACHE)
    .then((c) => c.addAll(FILES.map((f) => new Request(f, { cache: 'reload' }))))
    .then(() => self.skipWaiting()));
});

self.addEventListener('activate', (e) => {
  e.waitUntil(caches.keys()
    .then((keys) => Promise.all(keys.filter((k) => k.startsWith('tarmik-') && k !== CACHE)
      .map((k) => caches.delete(k))))
    .then(() => self.clients.claim()));
});

// The kept files from the cache (the page itself whatever its query), anything else (a demo
// beside the page) from the network.
self.addEventListener('fetch', (e) => {
  const req = e.request;
  if (req.method !== 'GET' || new URL(req.url).origin !== location.origin) return;
  const url = new URL(req.url);
  const page = req.mode === 'navigate' && /\/(index\.html)?$/.test(url.pathname);
  e.respondWith(caches.open(CACHE)
    .then((c) => (page ? c.match('index.html') : c.match(req)))
    .then((hit) => hit || fetch(req)));
});

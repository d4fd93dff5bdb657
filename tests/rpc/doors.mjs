// What the conformance run adds for the front ends people use: their recorded requests
// replayed (frontends.json), the Origin table, and the doors a local program could force.
import fs from "node:fs";
import http from "node:http";
import net from "node:net";

const sleep = (ms) => new Promise((r) => setTimeout(r, ms));

// One HTTP request by hand: Origin, Host and the rest exactly as given.
export function request(port, { method = "POST", path = "/jsonrpc", headers = {}, body = "",
  localAddress } = {}) {
  return new Promise((resolve) => {
    const req = http.request({ host: "127.0.0.1", port, method, path, headers, localAddress,
      agent: false }, (res) => {
      let text = "";
      res.on("data", (d) => (text += d));
      res.on("end", () => resolve({ status: res.statusCode, headers: res.headers, text }));
    });
    req.on("error", () => resolve({ status: 0, headers: {}, text: "" }));
    req.end(body);
  });
}

// A WebSocket opened with an Origin; resolves to the socket, or null when refused.
export function openWebSocket(WS, port, origin) {
  return new Promise((resolve) => {
    const ws = new WS(`ws://127.0.0.1:${port}/jsonrpc`, origin ? { origin } : {});
    ws.on("open", () => resolve(ws));
    ws.on("error", () => resolve(null));
    ws.on("unexpected-response", () => resolve(null));
  });
}
// The answer to one call: notifications that come between are passed over.
const wsCall = (ws, body) => new Promise((resolve) => {
  const id = JSON.parse(body).id;
  const take = (m) => {
    const answer = JSON.parse(m);
    if (answer.method || answer.id !== id) return;
    ws.off("message", take);
    resolve(answer);
  };
  ws.on("message", take);
  ws.send(body);
});

const fixtures = JSON.parse(fs.readFileSync(new URL("./frontends.json", import.meta.url), "utf8"));

// Replays every front end's calls; returns the answers by "frontend/id#n".
export async function replay(WS, port, secret, base) {
  const answers = {};
  for (const fe of fixtures.frontends) {
    const ws = fe.transport === "ws" ? await openWebSocket(WS, port, fe.origin) : null;
    if (fe.transport === "ws" && !ws) throw new Error(`${fe.name}: its WebSocket was refused`);
    let gid = null;
    let n = 0;
    for (const call of fe.calls) {
      const { keep, ...shape } = call;
      const body = JSON.stringify(shape).replaceAll("$TOKEN", secret).replaceAll("$BASE", base)
        .replaceAll("$GID", gid ?? "");
      const answer = ws ? await wsCall(ws, body)
        : JSON.parse((await request(port, { body, headers: { Origin: fe.origin,
          "Content-Type": "application/json" } })).text);
      if (keep) gid = answer.result;
      answers[`${fe.name}/${call.method}#${n++}`] = answer;
    }
    ws?.close();
  }
  return answers;
}

// The Origin table: who gets in, with and without a secret, over HTTP and WebSocket.
export const origins = {
  none: null,
  extension: "chrome-extension://mpkodccbngfoacfalldjimigbofkhgjn",
  "firefox add-on": "moz-extension://2f6c1b7e-5d1e-4c1a-9a55-8c2b7c1d0e11",
  "this machine's page": "http://localhost:6880",
  web: "http://downloads.example",
  null: "null",
};
export async function originRow(WS, port, origin) {
  const headers = origin ? { Origin: origin } : {};
  const http = await request(port, { headers, body: JSON.stringify({ jsonrpc: "2.0", id: 1,
    method: "system.listMethods" }) });
  const ws = await openWebSocket(WS, port, origin);
  ws?.close();
  return { http: http.status === 200, ws: ws !== null };
}

export async function doors(WS, port, check) {
  // A raw WebSocket that never answers a ping is closed once silent (idle limit 1.5 s here).
  const raw = net.connect(port, "127.0.0.1");
  raw.on("error", () => {});
  raw.write("GET /jsonrpc HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\n" +
    "Connection: Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n" +
    "Sec-WebSocket-Version: 13\r\n\r\n");
  const rawClosed = new Promise((r) => raw.on("close", r));
  // Read, or Node never sees the end of the socket.
  raw.resume();
  // A slow sender: a byte of the head every 300 ms never finishes it.
  const slow = net.connect(port, "127.0.0.1");
  slow.on("error", () => {});
  const slowClosed = new Promise((r) => slow.on("close", r));
  slow.resume();
  const head = "POST /jsonrpc HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Pad: " + "a".repeat(100);
  let i = 0;
  const drip = setInterval(() => { if (!slow.destroyed) slow.write(head[i++ % head.length]); }, 300);
  const t0 = Date.now();
  const ends = await Promise.race([Promise.all([rawClosed, slowClosed]).then(() => true),
    sleep(6000).then(() => false)]);
  clearInterval(drip);
  check(ends && Date.now() - t0 < 5000, "a silent WebSocket and a slow sender are cut in time");
  raw.destroy();
  slow.destroy();
  // Floods of idle sockets from other loopback addresses, past the caps.
  const flood = [];
  for (let peer = 2; peer <= 6; peer++)
    for (let k = 0; k < 40; k++) {
      const s = net.connect({ port, host: "127.0.0.1", localAddress: `127.0.0.${peer}` });
      s.on("error", () => {});
      flood.push(s);
    }
  await sleep(500);
  const call = (localAddress) => request(port, { localAddress, body: JSON.stringify({
    jsonrpc: "2.0", id: 1, method: "system.listNotifications" }) });
  check((await call("127.0.0.1")).status === 200, "a new peer is served while the caps are reached");
  check((await call("127.0.0.2")).status === 200, "so is a flooding peer's next real call");
  for (const s of flood) s.destroy();

  const rebound = await request(port, { headers: { Host: "downloads.example:6800" },
    body: JSON.stringify({ jsonrpc: "2.0", id: 1, method: "system.listMethods" }) });
  check(rebound.status === 403, "a Host that is not a loopback name is refused: " + rebound.status);
  const params = Buffer.from("[]").toString("base64");
  const jsonp = await request(port, { method: "GET",
    path: `/jsonrpc?method=system.listNotifications&id=7&params=${encodeURIComponent(params)}` +
      "&jsoncallback=got" });
  check(jsonp.status === 200 && /^got\(\{.*"id":"7".*\}\)$/.test(jsonp.text),
    "GET with base64 params and jsoncallback: " + jsonp.text.slice(0, 80));
  const preflight = await request(port, { method: "OPTIONS", headers: {
    Origin: origins.extension, "Access-Control-Request-Method": "POST",
    "Access-Control-Request-Headers": "content-type, x-smuggled, authorization" } });
  check(preflight.status === 200 &&
    preflight.headers["access-control-allow-headers"] === "content-type, authorization",
    "the preflight echoes the asked headers within the list: " +
      preflight.headers["access-control-allow-headers"]);
}

// A web terminal's side of a ZModem session, in node: the terminal's bytes come on stdin, what
// the page sends goes to stdout. Used by zmodemjs_interop.py.
//
//   node zmodemjs_peer.js download DIR [--abort N]      take every file offered into DIR
//   node zmodemjs_peer.js upload FILE... [--abort N]    offer the files, as a page's upload does
//
// --abort N: session.abort() once N bytes of file data have gone by. When stdin ends, one line of
// JSON goes to stderr: the session's outcome and what the terminal showed after it.
"use strict";
const fs = require("fs");
const path = require("path");
const Zmodem = require("zmodem.js");

const [mode, ...args] = process.argv.slice(2);
const abortAt = args.indexOf("--abort");
const abortAfter = abortAt >= 0 ? Number(args.splice(abortAt, 2)[1]) : -1;
const report = { after: "", files: [], ended: false, aborted: false, error: null };
let session = null;
let moved = 0;

function count(n) {
    moved += n;
    if (abortAfter >= 0 && moved >= abortAfter && !report.aborted) {
        report.aborted = true;
        session.abort();
    }
}

function download() {
    const dir = args[0];
    session.on("offer", (offer) => {
        const details = offer.get_details();
        const chunks = [];
        report.files.push(details);
        offer.on("input", (payload) => {
            chunks.push(Buffer.from(payload));
            count(payload.length);
        });
        const save = () => fs.writeFileSync(path.join(dir, details.name), Buffer.concat(chunks));
        offer.accept({ on_input: () => {} }).then(save, () => {});
    });
    session.start();
}

async function upload() {
    const names = args;
    let remaining = names.reduce((sum, name) => sum + fs.statSync(name).size, 0);
    for (let i = 0; i < names.length; ++i) {
        const data = fs.readFileSync(names[i]);
        const xfer = await session.send_offer({
            name: path.basename(names[i]), size: data.length,
            mtime: new Date(fs.statSync(names[i]).mtimeMs),
            files_remaining: names.length - i, bytes_remaining: remaining,
        });
        remaining -= data.length;
        // As a page does: pieces of a file read in slices, the last with the end.
        for (let at = 0; at < data.length && !report.aborted; at += 8192) {
            xfer.send(data.subarray(at, Math.min(at + 8192, data.length)));
            count(Math.min(8192, data.length - at));
        }
        if (report.aborted) {
            return;
        }
        await xfer.end();
    }
    await session.close();
}

const sentry = new Zmodem.Sentry({
    to_terminal(octets) {
        if (report.ended) {
            report.after += Buffer.from(octets).toString("latin1");
        }
    },
    sender: (octets) => process.stdout.write(Buffer.from(octets)),
    on_retract() {},
    on_detect(detection) {
        session = detection.confirm();
        session.on("session_end", () => (report.ended = true));
        Promise.resolve()
            .then(mode === "download" ? download : upload)
            .catch((error) => (report.error = String(error)));
    },
});

process.stdin.on("data", (data) => {
    try {
        sentry.consume(data);
    } catch (error) {
        report.error = report.error || String(error);
    }
});
process.stdin.on("end", () => {
    report.after = report.after.slice(0, 200);
    process.stderr.write(JSON.stringify(report) + "\n", () => process.exit(0));
});

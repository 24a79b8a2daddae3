// node gltf-validate.cjs FILE.glb: the Khronos glTF validator's counts on one line
// ("errors 0 warnings 0 infos 1 hints 0"), then each issue that is not a hint or an info, one a
// line; exit status 0 whatever it found (the test reads the counts).
const fs = require('node:fs');
const validator = require('gltf-validator');

const file = process.argv[2];
validator.validateBytes(new Uint8Array(fs.readFileSync(file)), { maxIssues: 50 })
    .then((report) => {
        const i = report.issues;
        console.log(`errors ${i.numErrors} warnings ${i.numWarnings} infos ${i.numInfos} hints ${i.numHints}`);
        for (const m of i.messages) {
            if (m.severity <= 1) console.log(`${m.code} ${m.pointer || ''} ${m.message}`);
        }
    })
    .catch((error) => {
        console.log(`errors 1 warnings 0 infos 0 hints 0\nvalidator failed: ${error}`);
    });

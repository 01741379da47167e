// A program and its input in the page address's fragment, so that a link
// restores both: #program=...&input=... with each text as UTF-8 in base64url.
// The fragment never reaches a server.

function toBase64Url(text) {
  let binary = '';
  for (const byte of new TextEncoder().encode(text)) binary += String.fromCharCode(byte);
  return btoa(binary).replace(/\+/g, '-').replace(/\//g, '_').replace(/=+$/, '');
}

function fromBase64Url(encoded) {
  let base64 = encoded.replace(/-/g, '+').replace(/_/g, '/');
  while (base64.length % 4 !== 0) base64 += '=';
  const bytes = Uint8Array.from(atob(base64), (c) => c.charCodeAt(0));
  return new TextDecoder('utf-8', { fatal: true }).decode(bytes);
}

export function shareFragment({ program, input }) {
  const params = new URLSearchParams();
  params.set('program', toBase64Url(program));
  if (input) params.set('input', toBase64Url(input));
  return `#${params.toString()}`;
}

// The program and input of a fragment, or null when it holds none (or
// holds something that is not one of ours).
export function readFragment(hash) {
  if (!hash || hash.length < 2) return null;
  const params = new URLSearchParams(hash.slice(1));
  const program = params.get('program');
  if (program === null) return null;
  try {
    return { program: fromBase64Url(program), input: params.has('input') ? fromBase64Url(params.get('input')) : '' };
  } catch {
    return null;
  }
}
